#!/usr/bin/env bash
# The man pages in step with the programs and the simulator, the tree's include and platform
# rules (scripts/lint.sh), and every man page formatted without a warning (scripts/manlint.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/deps.sh
bash scripts/lint.sh
bash scripts/manlint.sh
