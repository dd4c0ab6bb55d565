#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only when one is missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev zlib1g-dev libdeflate-dev groff-base nlohmann-json3-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
