#!/usr/bin/env bash
# The man pages in step with the programs and the simulator, the tree's include and platform
# rules (scripts/lint.sh), and every man page formatted without a warning (scripts/manlint.sh).
# Both run even when the first fails.
set -uo pipefail
cd "$(dirname "$0")/../.."
bash scripts/deps.sh || exit 1
rc=0
bash scripts/lint.sh || rc=1
bash scripts/manlint.sh || rc=1
exit $rc
