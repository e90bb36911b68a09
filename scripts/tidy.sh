#!/usr/bin/env bash
# clang-tidy, with the tree's .clang-tidy, over the project's own sources as the dev build
# compiles them (its compile_commands.json); any warning fails. The tests are included: they hold
# the seams, threads and fixtures where a use-after-move or a racy call does the most harm, and a
# check that does not fit test code is switched off in tests/.clang-tidy, with its reason.
#   scripts/tidy.sh [REGEX]   only the sources whose path matches REGEX (e.g. 'foundation/')
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
root=$PWD
build=build/dev
[ -f "$build/compile_commands.json" ] || cmake --preset dev >/dev/null
own="^$root/(foundation|check_handler|registry|net|sntp|tool|sim|programs|examples|benchmarks|fuzz|tests)/"
# run-clang-tidy picks the files from the database by regex: the own folders, then the filter.
files=$(python3 - "$build/compile_commands.json" "$own" "${1:-}" <<'PY'
import json, re, sys
db, own, extra = sys.argv[1], re.compile(sys.argv[2]), re.compile(sys.argv[3])
print("\n".join(sorted({e["file"] for e in json.load(open(db))
                        if own.search(e["file"]) and extra.search(e["file"])})))
PY
)
[ -n "$files" ] || { echo "tidy: no sources match" >&2; exit 2; }
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
log=${TIDY_LOG:-$(mktemp)}
[ -n "${TIDY_LOG:-}" ] || trap 'rm -f "$log"' EXIT
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy || true)
rc=0
if [ -n "$runner" ]; then
  # One regex per file, anchored, so a file's name never selects another one.
  mapfile -t args < <(sed 's/[][\.*^$+?(){}|]/\\&/g; s/^/^/; s/$/$/' <<<"$files")
  "$runner" -quiet -j 2 -p "$build" -clang-tidy-binary "$tidy" -header-filter "$own" \
    "${args[@]}" >"$log" 2>&1 || rc=$?
else
  xargs -r "$tidy" -quiet -p "$build" --header-filter="$own" <<<"$files" >"$log" 2>&1 || rc=$?
fi
sed -i 's/\x1b\[[0-9;]*m//g' "$log" # run-clang-tidy colours its output
# A header's warning is reported once per source including it: each distinct line counts once.
warnings=$(grep -E '^/.*: (warning|error): ' "$log" | sort -u || true)
if [ -n "$warnings" ]; then
  echo "$warnings"
  echo "--- by folder"
  sed -E "s|^$root/||; s|/[^/]*:[0-9]+:[0-9]+:.*||" <<<"$warnings" | sort | uniq -c | sort -rn
  echo "--- by check"
  sed -E 's/.*\[([^]]+)\]$/\1/' <<<"$warnings" | sort | uniq -c | sort -rn
  echo "tidy: $(wc -l <<<"$warnings") warnings" >&2
  exit 1
fi
# Without a warning to show, a failed run is a source clang-tidy could not read.
[ "$rc" -eq 0 ] || { tail -n 20 "$log" >&2; echo "tidy: clang-tidy failed ($rc)" >&2; exit 1; }
echo "tidy: clean ($(wc -l <<<"$files") sources)"
