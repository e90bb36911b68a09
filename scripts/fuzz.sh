#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer, leak
# checks) in build/fuzz and runs each for a bounded time: scripts/fuzz.sh [SECONDS] (default 60).
# A crash, a hang (an input that runs over 10 s), a leak or a broken check fails the script;
# the input that caused it is left in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh

build=build/fuzz
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVAN_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null

targets=(registry registry_api base64 sntp_packet)
cmake --build "$build" -j 2 --target "${targets[@]/#/kovan_fuzz_}"

mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "fuzzing $t for ${seconds}s"
  # The dump writes to standard error for every input: close it; the sanitizers and libFuzzer
  # report on a copy of it.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/kovan_fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    "$corpus" "fuzz/corpus/$t"
done
