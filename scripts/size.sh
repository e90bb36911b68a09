#!/usr/bin/env bash
# Builds the armhf quillo as the boards get it (preset armhf-release: MinSizeRel, hardened,
# stripped), once linked dynamically and once with -static-libstdc++, and prints their sizes in
# bytes and the libraries each needs. Needs the armhf packages that scripts/armhf.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

measure() {
  local name=$1 flags=$2 dir=build/size-armhf-$1
  # The preset's own linker flags, with the variant's added.
  cmake --preset armhf-release -B "$dir" -DKOVAN_WERROR=OFF \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now -s $flags" > /dev/null
  cmake --build "$dir" --target quillo > /dev/null
  arm-linux-gnueabihf-strip -o "$dir/quillo.stripped" "$dir/tool/quillo"
  printf '%-20s %8d bytes  needs: %s\n' "$name" "$(stat -c %s "$dir/quillo.stripped")" \
    "$(arm-linux-gnueabihf-readelf -d "$dir/quillo.stripped" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')"
}

measure dynamic ""
measure static-libstdc++ "-static-libstdc++ -static-libgcc"
