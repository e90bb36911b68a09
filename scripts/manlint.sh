#!/usr/bin/env bash
# Formats manual pages the way man shows them and fails on any warning groff or man gives
# (unknown macros, bad escapes, lines that cannot be broken, ...).
#   scripts/manlint.sh [PAGE...]   (default: every page of the source tree; .gz pages too)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
  mapfile -t pages < <(git ls-files '*.[1-8]')
  set -- "${pages[@]}"
fi
[ $# -gt 0 ] || { echo "manlint: no manual pages" >&2; exit 1; }

failed=0
for page in "$@"; do
  # man exits 0 on warnings: what it writes to standard error is the verdict.
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || {
    warnings="man failed${warnings:+: $warnings}"
  }
  if [ -n "$warnings" ]; then
    printf 'manlint: %s\n%s\n' "$page" "$warnings" >&2
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "manlint: $# pages clean"
exit $failed
