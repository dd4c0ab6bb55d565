#!/usr/bin/env bash
# Makes the release artifacts in DIST from a Release build in BUILD, each listed with its SHA-256
# in DIST/SHA256SUMS:
#   oxtrel-<version>-linux-x86_64.tar.gz    fully static programs, manual pages, completions, README, LICENSE
#   oxtrel-<version>-windows-x86_64.zip     the two .exe, README, LICENSE (given `make windows`'s build)
#   oxtrel_<version>_amd64.deb              CPack's Debian package of `cmake --install`
#   oxtrel-<version>-cp3*-linux_x86_64.whl  the Python module
#   oxtrel-<version>.tar.gz                 the sources of HEAD
# Archives are dated by the last commit (or SOURCE_DATE_EPOCH), so the same commit gives the same
# tarballs.
# Usage: scripts/make-dist.sh BUILD DIST [WINDOWS_BUILD]  (the last holds `make windows`'s programs)
set -euo pipefail
build=$1
dist=$2
windows=${3:-}
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(oxtrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
jobs=${JOBS:-$(nproc)}
# Debian's interpreter, whose packages provide setuptools, wheel and pybind11.
python=${PYTHON:-/usr/bin/python3}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DOXTREL_TESTS=OFF -DOXTREL_BENCH=OFF \
      -DOXTREL_PYTHON=OFF -DOXTREL_STATIC_PROGRAMS=ON >/dev/null
cmake --build "$build" -j "$jobs"

rm -rf "$dist"
mkdir -p "$dist"
dist=$(realpath "$dist")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# A tarball whose entries carry no owner, order or time of this machine.
tar_gz() {  # output, directory to archive (below $stage)
  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" -C "$stage" -cf - "$2" |
    gzip -9n >"$1"
}

name=oxtrel-$version-linux-x86_64
root=$stage/$name
install -d "$root/bin" "$root/share/man/man1" "$root/share/bash-completion/completions"
for program in oxtrel oxtrel-pack; do
  # No program interpreter, no needed library: the kernel runs it as it is.
  if readelf -l "$build/static/$program" | grep -q INTERP || readelf -d "$build/static/$program" | grep -q NEEDED; then
    echo "make-dist: $build/static/$program is not fully static" >&2
    exit 1
  fi
  install -s -m 755 "$build/static/$program" "$root/bin/"
  install -m 644 "completions/$program.bash" "$root/share/bash-completion/completions/$program"
  install -m 644 "$build/man/$program.1.gz" "$root/share/man/man1/"
done
install -m 644 README.md LICENSE "$root/"
tar_gz "$dist/$name.tar.gz" "$name"

if [ -n "$windows" ]; then
  name=oxtrel-$version-windows-x86_64
  mkdir "$stage/$name"
  cp "$windows/oxtrel.exe" "$windows/oxtrel-pack.exe" README.md LICENSE "$stage/$name/"
  touch -d "@$SOURCE_DATE_EPOCH" "$stage/$name" "$stage/$name"/*
  (cd "$stage" && zip -q -X -9 "$dist/$name.zip" "$name" "$name"/*)
fi

(cd "$build" && cpack -G DEB -B "$stage/deb" >/dev/null)
cp "$stage/deb/oxtrel_${version}_"*.deb "$dist/"

"$python" -m pip wheel --quiet --no-build-isolation --no-deps --no-index --disable-pip-version-check -w "$dist" .

git archive --format=tar --prefix="oxtrel-$version/" HEAD | gzip -9n >"$dist/oxtrel-$version.tar.gz"

(cd "$dist" && sha256sum -- * >"$stage/SHA256SUMS") && mv "$stage/SHA256SUMS" "$dist/"
ls -l "$dist"
