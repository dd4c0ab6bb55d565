#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only when one is missing; silent
# when all are there (one dpkg-query call).
# Usage: scripts/install-deps.sh [--programs] [extra-package ...]
#   --programs: only what building the two programs needs (make run), not the tests, benchmark
#   tools or Python module.
set -euo pipefail
packages=(g++ cmake make libdeflate-dev zlib1g-dev)
if [ "${1:-}" = --programs ]; then
  shift
else
  packages+=(pkg-config libgtest-dev groff-base nlohmann-json3-dev python3-dev pybind11-dev
             python3-pytest python3-setuptools python3-pybind11)
fi
packages+=("$@")
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | awk '/ install ok installed$/ {print $1}' || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
