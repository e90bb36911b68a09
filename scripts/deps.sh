#!/usr/bin/env bash
# Installs whatever Debian packages of scripts/packages.txt, and those named as arguments, are
# missing. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

missing=()
while read -r pkg _; do
  [ -z "$pkg" ] && continue
  case "$pkg" in \#*) continue ;; esac
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done < <(cat "$here/packages.txt"; printf '%s\n' "$@")

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  # Packages such as chrony ship a service that would start at install time and could steer
  # this machine's clock: keep services from starting while we install.
  policy=/usr/sbin/policy-rc.d
  made_policy=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    made_policy=1
  fi
  trap '[ -n "$made_policy" ] && $sudo rm -f "$policy"' EXIT
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
