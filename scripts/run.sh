#!/usr/bin/env bash
# The project's main job: installs what is missing, builds everything (release preset), then runs
# quillo on the simulated bench: the host's local time is written into a simulated ISL1208 and read
# back, then the same for the S35391A. The chips' state lives in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)"

bench=build/release/sim/quillo-bench
quillo=build/release/tool/quillo
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
export QUILLO_SIM_STATE="$state/chips"

for chip in "0x6F ISL1208" "0x5A S35391A"; do
  set -- $chip
  echo
  echo "== $2 at $1"
  "$bench" "$quillo" "$1" -w
  "$bench" "$quillo" "$1" -r
done
