#!/usr/bin/env bash
# The thread sanitizer's build: the threads, loopers and the background sync, raced for real.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/test.sh tsan
