#!/usr/bin/env bash
# Builds everything for the field boards (32-bit ARM, arm-linux-gnueabihf) and runs the whole
# suite under qemu-arm: cross compiler, emulator and GoogleTest's sources are installed first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

# Only the cross build needs these; the host suite does not.
armhf_packages=(g++-arm-linux-gnueabihf qemu-user googletest)
missing=()
for pkg in "${armhf_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake --preset armhf
cmake --build --preset armhf -j "$(nproc)"
ctest --preset armhf -j "$(nproc)"
