#!/usr/bin/env bash
# Every test built with clang, warnings as errors: the second compiler's warnings and its view of
# the code (the libFuzzer programs are built here too, not run).
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/test.sh clang
