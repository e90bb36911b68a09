#!/usr/bin/env bash
# Debian packages for amd64 and armhf: lintian, manual pages, installed into a clean Debian 12 root.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/package-check.sh
