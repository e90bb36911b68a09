#!/usr/bin/env bash
# The field platform: the whole suite built for 32-bit ARM and run under qemu-arm.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/armhf.sh
