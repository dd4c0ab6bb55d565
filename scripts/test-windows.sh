#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, headless: the portable suite, then the programs,
# compared with the Linux build's on the same archives and trees.
# pytest is Debian's, for the system interpreter.
# Usage: scripts/test-windows.sh <windows-build-dir> <linux-build-dir>
set -euo pipefail
cd "$(dirname "$0")/.."
windows_build=$(realpath "$1")
linux_build=$(realpath "$2")

if [ -z "${WINEPREFIX:-}" ]; then
  if [ -w /var/cache ]; then cache=/var/cache/oxtrel-mingw; else cache=${XDG_CACHE_HOME:-$HOME/.cache}/oxtrel-mingw; fi
  export WINEPREFIX=$cache/wine
fi
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" WINE=${WINE:-wine}
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$(dirname "$WINEPREFIX")"
# The prefix is made once (about half a minute); one server serves every run after that.
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
wineserver -p 60

# A hang under Wine fails the run in bounded time instead of holding CI.
timeout 900 "$WINE" "$windows_build/oxtrel_windows_tests.exe" --gtest_brief=1
OXTREL_WINDOWS_BUILD=$windows_build OXTREL_LINUX_BUILD=$linux_build \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/windows
