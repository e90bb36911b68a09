#!/usr/bin/env bash
# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (leaks included).
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/test.sh asan
