#!/usr/bin/env bash
# Installs and runs each release artifact in DIST as a user would, comparing with the programs of
# the build tree BUILD:
# - the static programs, with an empty environment in an empty directory, extract and pack the
#   sample byte for byte as the build tree's do;
# - the .deb is lintian-clean of errors, installs with dpkg, its programs, manual page, CMake
#   package and pkg-config file work, and purging it leaves none of its files;
# - the wheel installs offline into a fresh venv and lists and reads the sample as the program does;
# - the source tarball and the Windows zip hold what they should.
# Usage: scripts/test-dist.sh DIST BUILD
set -euo pipefail
dist=$(realpath "$1")
build=$(realpath "$2")
cd "$(dirname "$0")/.."
source=$PWD
version=$(sed -n 's/^project(oxtrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d)
python=${PYTHON:-/usr/bin/python3}
installed=
cleanup() {
  [ -z "$installed" ] || dpkg --purge oxtrel >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test-dist: $*" >&2
  exit 1
}
step() { echo "test-dist: $*"; }

step checksums
(cd "$dist" && sha256sum --check --quiet SHA256SUMS)
(cd "$dist" && ls) | grep -vxF SHA256SUMS | sort >"$work/artifacts"
cut -c67- "$dist/SHA256SUMS" | sort | cmp -s - "$work/artifacts" || fail "SHA256SUMS does not list every artifact"

step "static programs"
tar -xzf "$dist/oxtrel-$version-linux-x86_64.tar.gz" -C "$work"
release=$work/oxtrel-$version-linux-x86_64
for file in bin/oxtrel bin/oxtrel-pack share/man/man1/oxtrel.1.gz share/man/man1/oxtrel-pack.1.gz \
            share/bash-completion/completions/oxtrel share/bash-completion/completions/oxtrel-pack README.md LICENSE; do
  [ -f "$release/$file" ] || fail "the tarball lacks $file"
done
static=$release/bin
cp examples/sample.vrk "$work/sample.vrk"
for program in oxtrel oxtrel-pack; do
  [[ "$(ldd "$static/$program" 2>&1 || true)" == *"not a dynamic executable"* ]] || fail "$program is not static"
  [ "$(env -i "$static/$program" --version)" = "$program $version" ] || fail "$program --version"
done
# Each side extracts the sample in an empty directory of its own and packs the tree back beside it.
extract_and_pack() {  # side, the programs' directory, env's arguments
  local side=$1 bin=$2
  shift 2
  mkdir -p "$work/$side/run"
  (cd "$work/$side/run" && env "$@" "$bin/oxtrel" ../../sample.vrk && env "$@" "$bin/oxtrel-pack" --compress ../packed.vrk data) \
    >"$work/$side.out" 2>"$work/$side.err" || fail "the $side programs failed: $(cat "$work/$side.err")"
}
extract_and_pack static "$static" -i
extract_and_pack built "$build"
cmp "$work/static.out" "$work/built.out" || fail "the static programs printed other lines"
cmp "$work/static.err" "$work/built.err" || fail "the static programs printed other messages"
diff -r "$work/static" "$work/built" || fail "the static programs extracted another tree or packed another archive"

step "Debian package"
deb=$dist/oxtrel_${version}_amd64.deb
lintian --fail-on error "$deb" || fail "lintian found errors in $deb"
! dpkg -s oxtrel >/dev/null 2>&1 || fail "oxtrel is installed already; remove it first"
# Everything the package brings has the name in its path; none of it may outlive the purge.
dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep oxtrel >"$work/deb-files" || true
installed=yes
dpkg -i "$deb" >/dev/null
[ "$(cd / && env -i PATH=/usr/bin:/bin oxtrel --version)" = "oxtrel $version" ] || fail "oxtrel --version"
[ "$(cd / && env -i PATH=/usr/bin:/bin oxtrel-pack --version)" = "oxtrel-pack $version" ] || fail "oxtrel-pack --version"
[ "$(man -w oxtrel)" = /usr/share/man/man1/oxtrel.1.gz ] || fail "man -w oxtrel: $(man -w oxtrel 2>&1)"
[ "$(pkg-config --modversion oxtrel)" = "$version" ] || fail "pkg-config does not find oxtrel"
cat >"$work/consumer.cpp" <<'EOF'
#include <oxtrel/oxtrel.h>

#include <cstdio>

int main(int, char** argv) {
  oxtrel::Result<oxtrel::Archive> archive = oxtrel::openArchive(argv[1]);
  if (!archive) return 1;
  for (const oxtrel::Entry& entry : oxtrel::entries(*archive)) std::printf("%s\n", entry.path.c_str());
}
EOF
cmake -S tests/package_consumer -B "$work/consumer" -DEXAMPLE_SOURCE="$work/consumer.cpp" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$build/oxtrel" --json examples/sample.vrk | "$python" -c 'import json, sys; [print(json.loads(l)["path"]) for l in sys.stdin]' \
  >"$work/paths"
for consumer in consumer_shared consumer_static; do
  "$work/consumer/$consumer" examples/sample.vrk | cmp -s - "$work/paths" || fail "$consumer listed another sample"
done
dpkg --purge oxtrel >/dev/null
installed=
! dpkg -s oxtrel >/dev/null 2>&1 || fail "oxtrel is still known to dpkg"
[ -s "$work/deb-files" ] || fail "the package lists no file"
while read -r file; do
  [ ! -e "$file" ] && [ ! -L "$file" ] || fail "$file is left after purging"
done <"$work/deb-files"
! ldconfig -p | grep -q liboxtrel || fail "the loader still lists liboxtrel"

step "Python wheel"
"$python" -m venv "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index --disable-pip-version-check "$dist"/oxtrel-"$version"-*.whl
(cd "$work" && venv/bin/python - sample.vrk paths built/run/data) <<'EOF' || fail "the wheel's module differs from the program"
import pathlib, sys
import oxtrel

assert pathlib.Path(oxtrel.__file__).is_relative_to(pathlib.Path(sys.prefix)), oxtrel.__file__
archive, paths, data = sys.argv[1:]
with oxtrel.open(archive) as a:
    listed = [e.path for e in a]
    assert listed == pathlib.Path(paths).read_text().splitlines(), listed
    for entry in a:
        assert a.read(entry) == (pathlib.Path(data) / entry.path).read_bytes(), entry.path
EOF

step "source tarball"
tar -tzf "$dist/oxtrel-$version.tar.gz" | sort >"$work/source-files"
git ls-tree -r --name-only HEAD | sed "s|^|oxtrel-$version/|" | sort | comm -23 - "$work/source-files" >"$work/missing"
[ ! -s "$work/missing" ] || fail "the source tarball lacks $(head -3 "$work/missing")"

zip=$dist/oxtrel-$version-windows-x86_64.zip
if [ -f "$zip" ]; then
  step "Windows zip"
  listing=$(unzip -l "$zip")
  for file in oxtrel.exe oxtrel-pack.exe README.md LICENSE; do
    grep -q "/$file\$" <<<"$listing" || fail "the zip lacks $file"
  done
fi
step "all artifacts pass"
