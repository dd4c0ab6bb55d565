#!/usr/bin/env bash
# The bash completions, driven as bash drives them (COMP_WORDS, COMP_CWORD): job counts after
# -j/--jobs, options, archives, and entry paths after the archive from the program's --names.
# Usage: completion_test.sh <oxtrel> <oxtrel-pack> <completions directory>
set -uo pipefail
oxtrel=$1 pack=$2 completions=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p tree/textures/ui tree/Meshes empty
for f in textures/ui/logo.dds textures/rock.dds readme.txt Meshes/a.nif; do echo "$f" > "tree/$f"; done
"$pack" a.vrk tree >/dev/null && "$pack" b.vrk tree/textures >/dev/null || exit 1
echo "not an archive" > bad.vrk
mkdir bin && ln -s "$oxtrel" bin/oxtrel && ln -s "$pack" bin/oxtrel-pack
PATH=$work/bin:$PATH

compopt() { :; }  # only works inside a real completion
source "$completions/oxtrel.bash" && source "$completions/oxtrel-pack.bash" || exit 1

failures=0
# expect "<words, the last being completed>" "<offers, sorted>"
expect() {
  local line=$1 want=$2
  read -ra COMP_WORDS <<< "$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | sed 's/.*-F \([^ ]*\).*/\1/')
  "$function" 2>>"$work/stderr"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ *$//')
  if [[ $got != "$want" ]]; then
    echo "FAIL: '$line' offers '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

cpus=$(nproc); ((cpus > 64)) && cpus=64
jobs=$(seq 1 "$cpus" | sort | tr '\n' ' ' | sed 's/ *$//')
expect "oxtrel-pack -j " "$jobs"
expect "oxtrel-pack --jobs = " "$jobs"
expect "oxtrel-pack --jobs =" "$jobs"
expect "oxtrel -j " "$jobs"
expect "oxtrel a.vrk --jobs " "$jobs"
expect "oxtrel-pack --jo" "--jobs"
expect "oxtrel --na" "--names"
expect "oxtrel " "a.vrk b.vrk bad.vrk bin empty tree"
expect "oxtrel a.vrk " "Meshes/ readme.txt textures/"
expect "oxtrel a.vrk tex" "textures/"
expect "oxtrel a.vrk textures/" "textures/rock.dds textures/ui/"
expect "oxtrel -C empty -x *.dds -lq a.vrk TEXTURES/U" "textures/ui/"
expect "oxtrel --directory = empty a.vrk m" "Meshes/"
expect "oxtrel a.vrk readme.txt " "Meshes/ readme.txt textures/"
expect "oxtrel a.vrk -x " ""
expect "oxtrel --diff a.vrk b.vrk " "rock.dds ui/"
expect "oxtrel bad.vrk " ""
expect "oxtrel missing.vrk " ""
if [[ -s $work/stderr ]]; then
  echo "FAIL: completion wrote to standard error:"; cat "$work/stderr"
  failures=$((failures + 1))
fi
((failures == 0)) && echo "completions: all offers as expected"
exit $((failures != 0))
