#!/usr/bin/env bash
# Builds libdeflate as a static library for 64-bit Windows with Debian's MinGW-w64 compiler, from
# Debian's source package of the same version as the installed libdeflate-dev, and caches it
# outside the tree. Prints the install prefix (holding include/libdeflate.h, lib/libdeflate.a).
# The source is fetched through a private apt source list and state: the system's apt
# configuration is never changed.
# Usage: scripts/build-libdeflate-mingw.sh [cache-dir]
set -euo pipefail
cache=${1:-${OXTREL_MINGW_CACHE:-}}
if [ -z "$cache" ]; then
  if [ -w /var/cache ]; then cache=/var/cache/oxtrel-mingw; else cache=${XDG_CACHE_HOME:-$HOME/.cache}/oxtrel-mingw; fi
fi
cc=${MINGW_CC:-x86_64-w64-mingw32-gcc-posix}
ar=${MINGW_AR:-x86_64-w64-mingw32-ar}

version=$(dpkg-query -W -f='${source:Version}' libdeflate-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "libdeflate-dev is not installed: run scripts/install-deps.sh" >&2; exit 1; }
prefix="$cache/libdeflate-$version"
if [ -f "$prefix/lib/libdeflate.a" ] && [ -f "$prefix/include/libdeflate.h" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial" "$cache/apt/parts" "$cache/src"
# The mirror the system already uses for binary packages also serves the sources.
mirror=$(apt-get indextargets --format '$(REPO_URI)' 2>/dev/null | grep -m1 '/debian/$' || true)
mirror=${mirror:-http://deb.debian.org/debian/}
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" >"$cache/apt/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$cache/apt/sources.list" -o "Dir::Etc::SourceParts=$cache/apt/parts"
             -o "Dir::State::Lists=$cache/apt/lists" -o "Dir::Cache=$cache/apt/cache" -o APT::Get::Only-Source=true)
apt-get "${apt_options[@]}" -qq update >&2
work=$(mktemp -d "$cache/src/build.XXXXXX")
chmod 755 "$work"  # apt fetches as its own user
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get "${apt_options[@]}" -qq --download-only source "libdeflate=$version" >&2)
tarball=$(ls "$work"/libdeflate_*.orig.tar.* | head -1)
mkdir "$work/tree"
tar -xf "$tarball" -C "$work/tree" --strip-components=1

# The library is every C file under lib/, the same set its own build compiles for x86.
cd "$work/tree"
objects=()
for source in lib/*.c lib/x86/*.c; do
  [ -f "$source" ] || continue
  object="$work/$(echo "$source" | tr / _).o"
  "$cc" -O2 -fomit-frame-pointer -std=c99 -I. -Ilib -c "$source" -o "$object"
  objects+=("$object")
done
mkdir -p "$prefix.partial/lib" "$prefix.partial/include"
"$ar" rcs "$prefix.partial/lib/libdeflate.a" "${objects[@]}"
cp libdeflate.h "$prefix.partial/include/"
rm -rf "$prefix"
mv "$prefix.partial" "$prefix"
echo "$prefix"
