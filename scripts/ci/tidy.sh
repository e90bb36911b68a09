#!/usr/bin/env bash
# clang-tidy with the tree's .clang-tidy over the project's own sources: any warning fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/tidy.sh
