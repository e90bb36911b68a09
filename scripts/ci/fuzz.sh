#!/usr/bin/env bash
# Each fuzzer for FUZZ_SECONDS (default 40): no crash, hang, leak or disagreement with the second
# reader of the registry format.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/fuzz.sh "${FUZZ_SECONDS:-40}"
