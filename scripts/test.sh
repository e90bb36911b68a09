#!/usr/bin/env bash
# Installs what is missing, builds everything with the given preset (default: dev) and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
bash scripts/deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
