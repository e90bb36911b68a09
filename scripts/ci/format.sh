#!/usr/bin/env bash
# The house format (.clang-format) on every C++ file of the tree.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/deps.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: $(git ls-files '*.cpp' '*.h' | wc -l) files clean"
