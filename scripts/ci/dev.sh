#!/usr/bin/env bash
# The README's test command: the debug build with gcc and every test, the saved fuzz inputs
# among them. ctest's closing line stays the last line of this stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/test.sh dev
