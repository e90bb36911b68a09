#!/usr/bin/env bash
# Builds the Debian packages for amd64 (preset `package`) and armhf (preset `armhf-release`) and
# checks them as a board developer would meet them:
#  - lintian finds no error or warning (overrides are explained in cmake/debian/);
#  - every program has a manual page, and man formats each without a warning;
#  - libkovan-dev holds only libraries, headers and build files, libkovan1 only the shared
#    libraries, each with its SONAME (libkovan-<name>.so.1); nothing enables the server's unit
#    or quillo-rtc's board time-keeping units, whose settings file is a conffile, and
#    systemd-analyze verify accepts them all once installed;
#  - the amd64 packages install with dpkg -i into a clean minimal Debian 12 root, where
#    `quillo-bench quillo 0x6F -w` then `-r` run from the installed files, and a program builds
#    against libkovan-dev through CMake and through pkg-config;
#  - the armhf packages hold ARM code, their quillo stays within 64 KB and runs (on the installed
#    simulator) under qemu-arm;
#  - the board daemon of docs/using-the-libraries.md builds against the installed libkovan-dev and
#    libkovan1 through CMake and pkg-config, static and shared, and runs (in a network namespace
#    of its own, without the right to set the clock); its stripped sizes are printed, also for
#    armhf.
# The root is made once with debootstrap from the mirror this machine uses (or KOVAN_DEBIAN_MIRROR)
# and kept as build/package-root/*.tar.zst; each run unpacks a fresh copy.
set -euo pipefail
cd "$(dirname "$0")/.."
# debootstrap, mount and chroot need root.
[ "$(id -u)" -eq 0 ] || exec sudo -E bash "$0" "$@"
started=$SECONDS
step() { printf '\n== %s (at %ds)\n' "$*" $((SECONDS - started)); }
fail() {
  echo "package-check: $*" >&2
  exit 1
}

step "tools"
bash scripts/deps.sh g++-arm-linux-gnueabihf qemu-user
jobs=$(nproc)
work=build/package-check
# A run that was killed may have left its root's /proc mounted: never delete through it.
umount "$work/debian/proc" 2>/dev/null || true
rm -rf --one-file-system "$work"
mkdir -p "$work"

# build PRESET: the packages of one preset, in build/PRESET/deb.
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  rm -rf "build/$1/deb"
  (cd "build/$1" && cpack -B deb >/dev/null)
}
step "amd64 packages"
build package
step "armhf packages"
build armhf-release
amd64_debs=(build/package/deb/*.deb)
armhf_debs=(build/armhf-release/deb/*.deb)

# lintian takes a while: it runs beside the other checks, its verdict is collected at the end.
lintian --fail-on error,warning "${amd64_debs[@]}" "${armhf_debs[@]}" >"$work/lintian.log" 2>&1 &
lintian_pid=$!

# Each architecture's packages unpacked one by one (x/ARCH/PACKAGE) and all together (x/ARCH/all).
for arch in amd64 armhf; do
  declare -n debs=${arch}_debs
  [ ${#debs[@]} -eq 5 ] || fail "$arch: ${#debs[@]} packages, expected 5"
  for deb in "${debs[@]}"; do
    package=$(dpkg-deb -f "$deb" Package)
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb is not $arch"
    mkdir -p "$work/x/$arch/$package" "$work/x/$arch/all"
    dpkg-deb -x "$deb" "$work/x/$arch/$package"
    dpkg-deb -x "$deb" "$work/x/$arch/all"
  done
  unset -n debs
  for package in quillo libkovan-dev libkovan1 quillo-sim sntp-serve; do
    [ -d "$work/x/$arch/$package" ] || fail "$arch: no package $package"
  done
done

step "contents"
for arch in amd64 armhf; do
  x=$work/x/$arch
  # A file that names no component lands in the development package: catch it there.
  stray=$(cd "$x/libkovan-dev" && find . ! -type d | grep -vE '^\./usr/(lib/[^/]+-linux-gnu[^/]*/|include/kovan/|share/(doc|lintian)/)' || true)
  [ -z "$stray" ] || fail "$arch: libkovan-dev holds files of no library: $stray"
  stray=$(cd "$x/libkovan1" && find . ! -type d | grep -vE '^\./usr/(lib/[^/]+-linux-gnu[^/]*/libkovan-[a-z]+\.so\.1(\.[0-9]+\.[0-9]+)?|share/(doc|lintian)/.*)$' || true)
  [ -z "$stray" ] || fail "$arch: libkovan1 holds files of no shared library: $stray"
  for name in foundation net registry sntp; do
    lib=$(echo "$x"/libkovan1/usr/lib/*/libkovan-$name.so.1.*)
    soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
    echo "$arch $(basename "$lib"): SONAME $soname"
    [ "$soname" = "libkovan-$name.so.1" ] || fail "$arch: $lib has the SONAME '$soname'"
    # Only the API: names of namespace Kovan (with their type information and tables) and trace;
    # not the C++ library's template code, not the internals kept local.
    foreign=$(nm -DC --defined-only "$lib" | sed 's/^[0-9a-f]* [A-Za-z] //; s/@@KOVAN_1$//' |
      grep -vE '^((typeinfo|typeinfo name|vtable|VTT|guard variable) for |(non-)?virtual thunk to )?([a-z_ *&:0-9]+ )?Kovan::|^trace\(|^KOVAN_1$' || true)
    [ -z "$foreign" ] || fail "$arch: $lib exports more than the API: $(head -n 5 <<<"$foreign")"
    ! nm -DC --defined-only "$lib" | grep -E 'Kovan::(SntpSocket|Registry::Walk|Registry::Siblings)::' ||
      fail "$arch: $lib exports internals"
  done
  for program in "$x"/all/usr/bin/* "$x"/all/usr/sbin/*; do
    name=$(basename "$program")
    compgen -G "$x/all/usr/share/man/man[1-8]/$name.[1-8].gz" >/dev/null || fail "$arch: $name has no manual page"
  done
done
bash scripts/manlint.sh "$work"/x/amd64/all/usr/share/man/man*/*

# The server's unit: present, valid, and installed disabled (no maintainer script or link
# enables it).
mapfile -t units < <(find "$work/x/amd64/sntp-serve" -path '*/systemd/system/*.service')
[ ${#units[@]} -gt 0 ] || fail "sntp-serve holds no systemd unit"
[ ! -e "$work/x/amd64/sntp-serve/etc/systemd" ] || fail "sntp-serve enables its unit"
for deb in build/package/deb/sntp-serve_*.deb; do
  ! dpkg-deb -I "$deb" postinst >/dev/null 2>&1 || fail "sntp-serve has a postinst"
done
units=("${units[@]#"$work/x/amd64/sntp-serve"}")
# quillo-rtc's units: the clock from the chip at boot, back to it at shutdown and on a timer.
q=$work/x/amd64/quillo
for unit in quillo-rtc-hctosys.service quillo-rtc-systohc.service \
  quillo-rtc-systohc-periodic.service quillo-rtc-systohc.timer; do
  [ -f "$q/usr/lib/systemd/system/$unit" ] || fail "quillo holds no $unit"
  units+=("/usr/lib/systemd/system/$unit")
done
[ ! -e "$q/etc/systemd" ] || fail "quillo enables a unit"
[ -f "$q/etc/default/quillo-rtc" ] || fail "quillo holds no /etc/default/quillo-rtc"
for deb in build/package/deb/quillo_*.deb; do
  ! dpkg-deb -I "$deb" postinst >/dev/null 2>&1 || fail "quillo has a postinst"
  [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/default/quillo-rtc ] ||
    fail "quillo's conffiles are not /etc/default/quillo-rtc"
done

step "armhf programs"
x=$work/x/armhf/all
for f in "$x"/usr/bin/quillo "$x"/usr/bin/sntp-query "$x"/usr/bin/registry-print \
  "$x"/usr/sbin/sntp-serve "$x"/usr/lib/arm-linux-gnueabihf/quillo/libquillo-sim.so; do
  file -b "$f" | grep -q 'ELF 32-bit LSB .* ARM, EABI5' || fail "not an ARM program: $f ($(file -b "$f"))"
done
machines=$(arm-linux-gnueabihf-readelf -h "$x"/usr/lib/arm-linux-gnueabihf/libkovan-*.a "$x"/usr/lib/arm-linux-gnueabihf/libkovan-*.so.1 | sed -n 's/ *Machine: *//p' | sort -u)
[ "$machines" = ARM ] || fail "armhf static libraries hold code for: $machines"
size=$(stat -c %s "$x/usr/bin/quillo")
echo "armhf quillo: $size bytes, stripped"
[ "$size" -le 65536 ] || fail "armhf quillo is $size bytes, more than 64 KB"

# bench PROGRAM-RUNNER...: `quillo 0x6F -w` then `-r` on a simulated chip that stands still; the
# time read back is the time written.
bench() {
  local written read
  written=$("$@" 0x6F -w | grep 'DATE:')
  read=$("$@" 0x6F -r | grep 'DATE:')
  echo "$read"
  [ -n "$written" ] && [ "$written" = "$read" ] || fail "wrote '$written', read back '$read'"
}
export QUILLO_SIM_DRIFT_PPM=-1000000
export QUILLO_SIM_STATE=$PWD/$work/armhf-chips
QEMU_SET_ENV=LD_PRELOAD=$PWD/$x/usr/lib/arm-linux-gnueabihf/quillo/libquillo-sim.so \
  bench qemu-arm -cpu cortex-a7 -L /usr/arm-linux-gnueabihf "$x/usr/bin/quillo"

step "armhf board daemon"
# Cross-built on this machine against the unpacked armhf packages (the .pc files find their tree
# from their own place), static and shared, the way the boards' programs would be.
lib=$x/usr/lib/arm-linux-gnueabihf
daemon=examples/board-daemon/BoardDaemon.cpp
libs="kovan-sntp kovan-registry kovan-check-handler"
export PKG_CONFIG_LIBDIR=$lib/pkgconfig
arm-linux-gnueabihf-g++ -std=c++17 -Os $(pkg-config --cflags $libs) "$daemon" -o "$work/daemon-armhf-shared" \
  $(pkg-config --libs $libs) -Wl,-rpath-link,"$lib"
arm-linux-gnueabihf-g++ -std=c++17 -Os $(pkg-config --cflags $libs) "$daemon" -o "$work/daemon-armhf-static" \
  -Wl,-Bstatic $(pkg-config --libs $libs) -Wl,-Bdynamic
unset PKG_CONFIG_LIBDIR
for kind in static shared; do
  arm-linux-gnueabihf-strip "$work/daemon-armhf-$kind"
  echo "armhf board-daemon, $kind Kovan libraries: $(stat -c %s "$work/daemon-armhf-$kind") bytes, stripped"
done
echo "armhf libkovan1 (four libraries): $(cat "$lib"/libkovan-*.so.1.* | wc -c) bytes"
arm-linux-gnueabihf-readelf -d "$work/daemon-armhf-shared" | grep -q 'NEEDED.*libkovan-sntp.so.1' ||
  fail "the shared armhf board daemon does not use libkovan-sntp.so.1"

step "clean Debian 12 root"
cache_dir=build/package-root
cache=$cache_dir/bookworm-minbase-tools.tar.zst
tools=(g++ cmake make pkg-config systemd)
if [ ! -f "$cache" ]; then
  # Either list format; a missing file or an unmatched glob is no failure here.
  mirror=${KOVAN_DEBIAN_MIRROR:-$({ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } | grep -v '^[[:space:]]*#' |
    grep -oE '(https?|ftp)://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ' || true)}
  [ -n "$mirror" ] || fail "no Debian mirror in /etc/apt/sources.list*; set KOVAN_DEBIAN_MIRROR"
  echo "debootstrap from $mirror"
  fresh=$cache_dir/fresh
  umount "$fresh/proc" 2>/dev/null || true
  rm -rf --one-file-system "$fresh"
  mkdir -p "$cache_dir"
  debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$cache_dir/debootstrap.log"
  # The build tools for the library's consumer and systemd (to verify the unit). They bring no
  # run-time library the packages need that minbase lacks (libc6, libstdc++6, libgcc-s1 are
  # part of it), so the packages' dependencies are still tried on a minimal system.
  mount -t proc proc "$fresh/proc"
  DEBIAN_FRONTEND=noninteractive chroot "$fresh" apt-get install -y -qq --no-install-recommends \
    "${tools[@]}" >"$cache_dir/tools.log"
  chroot "$fresh" apt-get clean
  umount "$fresh/proc"
  tar -C "$fresh" --zstd -cf "$cache.part" .
  mv "$cache.part" "$cache"
  rm -rf "$fresh"
fi
root=$work/debian
mkdir -p "$root"
tar -C "$root" --zstd -xf "$cache"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc" 2>/dev/null || true' EXIT
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$@"; }

step "install and run in the root"
mkdir -p "$root/tmp/debs"
cp "${amd64_debs[@]}" "$root/tmp/debs/"
in_root sh -c 'dpkg -i --force-unsafe-io /tmp/debs/quillo_*.deb /tmp/debs/quillo-sim_*.deb \
  /tmp/debs/sntp-serve_*.deb' >/dev/null
bench in_root QUILLO_SIM_DRIFT_PPM=-1000000 QUILLO_SIM_STATE=/tmp/chips quillo-bench quillo
in_root sh -c 'command -v sntp-query registry-print sntp-serve' >/dev/null

step "the unit in the root"
# Verified where the package is installed, so ExecStart= is checked against the installed program.
in_root systemd-analyze verify --man=no "${units[@]}"
echo "${units[*]}: verified"

step "a program built against libkovan-dev and libkovan1 in the root"
in_root sh -c 'dpkg -i --force-unsafe-io /tmp/debs/libkovan1_*.deb /tmp/debs/libkovan-dev_*.deb' >/dev/null
cp -r tests/install/consumer "$root/tmp/consumer"
in_root sh -ec '
  cd /tmp/consumer
  cmake -S . -B build >/dev/null
  cmake --build build >/dev/null
  ./build/consumer | cmp - expected.txt
  echo "find_package(Kovan): ok"
  c++ -std=c++17 main.cpp $(pkg-config --cflags --libs kovan kovan-check-handler) -o consumer-pc
  ./consumer-pc | cmp - expected.txt
  echo "pkg-config kovan kovan-check-handler: ok"
  # A program that brings its own assertion hook asks for the libraries alone.
  c++ -std=c++17 -DCONSUMER_OWN_CHECK_HANDLER main.cpp $(pkg-config --cflags --libs kovan-sntp kovan-registry) -o consumer-own
  ./consumer-own | cmp - expected.txt
  echo "pkg-config kovan-sntp kovan-registry, own check handler: ok"'

step "the board daemon against the installed packages"
cp -r examples/board-daemon "$root/tmp/board-daemon"
in_root sh -ec '
  cd /tmp/board-daemon
  for shared in OFF ON; do
    cmake -S . -B build-$shared -DCMAKE_BUILD_TYPE=Release -DBOARD_DAEMON_SHARED=$shared >/dev/null
    cmake --build build-$shared >/dev/null
  done
  libs="kovan-sntp kovan-registry kovan-check-handler"
  c++ -std=c++17 -O2 BoardDaemon.cpp $(pkg-config --cflags --libs $libs) -o pc-shared
  c++ -std=c++17 -O2 BoardDaemon.cpp $(pkg-config --cflags $libs) -Wl,-Bstatic $(pkg-config --libs $libs) -Wl,-Bdynamic -o pc-static
  for p in build-OFF/board-daemon build-ON/board-daemon pc-shared pc-static; do strip -o $p.stripped $p; done'
d=$root/tmp/board-daemon
for p in build-ON/board-daemon pc-shared; do
  readelf -d "$d/$p" | grep -q 'NEEDED.*libkovan-sntp.so.1' || fail "$p does not use libkovan-sntp.so.1"
done
for p in build-OFF/board-daemon pc-static; do
  ! readelf -d "$d/$p" | grep -q 'NEEDED.*libkovan' || fail "$p uses a shared Kovan library"
done
echo "board-daemon, static Kovan libraries (CMake): $(stat -c %s "$d/build-OFF/board-daemon.stripped") bytes, stripped"
echo "board-daemon, shared Kovan libraries (CMake): $(stat -c %s "$d/build-ON/board-daemon.stripped") bytes, stripped"
echo "board-daemon, static / shared (pkg-config): $(stat -c %s "$d/pc-static.stripped") / $(stat -c %s "$d/pc-shared.stripped") bytes"
echo "libkovan1 (four libraries): $(cat "$root"/usr/lib/x86_64-linux-gnu/libkovan-*.so.1.* | wc -c) bytes"
# Each runs a few heartbeats, serving time on loopback and syncing from itself, in a network of
# its own and without CAP_SYS_TIME: the background sync may try to set the clock, and must fail.
for p in build-OFF/board-daemon build-ON/board-daemon pc-shared pc-static; do
  out=$(timeout 60 unshare -n sh -c "ip link set lo up && exec chroot '$root' env -i PATH=/usr/bin:/bin \
    setpriv --bounding-set -sys_time /tmp/board-daemon/$p -f /tmp/board-daemon/settings-${p%%/*}.reg -n 3" 2>/dev/null) ||
    fail "$p failed: $out"
  echo "$out" | grep -q '^query: answered by 127.0.0.1' && echo "$out" | grep -qx 'heartbeat 3' &&
    echo "$out" | tail -n 1 | grep -qx stopped || fail "$p printed: $out"
  echo "$p: ran"
done

step "lintian"
lintian_status=0
wait $lintian_pid || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ $lintian_status -eq 0 ] || fail "lintian found errors or warnings"

step "done"
