#!/usr/bin/env bash
# Builds the armhf quillo as the release preset does (-O2), once linked dynamically and once with
# -static-libstdc++, strips both and prints their sizes in bytes. Needs the armhf packages that
# scripts/armhf.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

measure() {
  local name=$1 flags=$2 dir=build/size-armhf-$1
  cmake --preset armhf -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVAN_BUILD_TESTS=OFF -DKOVAN_WERROR=OFF \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" > /dev/null
  cmake --build "$dir" --target quillo > /dev/null
  arm-linux-gnueabihf-strip -o "$dir/quillo.stripped" "$dir/tool/quillo"
  printf '%-20s %8d bytes  needs: %s\n' "$name" "$(stat -c %s "$dir/quillo.stripped")" \
    "$(arm-linux-gnueabihf-readelf -d "$dir/quillo.stripped" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')"
}

measure dynamic ""
measure static-libstdc++ "-static-libstdc++ -static-libgcc"
