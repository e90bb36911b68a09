#!/usr/bin/env bash
# The project's main job: installs what is missing and builds everything (release preset).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)"
