# bash completion for oxtrel
# Patterns after the archive complete to its entries' paths, one level at a time, through
# `oxtrel --names` (quietly: a bad archive offers nothing).
_oxtrel_entries() {
  local program=$1 archive=$2
  archive=${archive/#\~/$HOME}
  [[ -f $archive ]] || return
  local IFS=$'\n'
  # Letters match either case in patterns, so they do here; a folder is offered as "folder/".
  COMPREPLY=($("$program" --names -- "$archive" 2>/dev/null | CUR=$cur awk '
    BEGIN { cur = ENVIRON["CUR"]; n = length(cur) }
    tolower(substr($0, 1, n)) == tolower(cur) {
      rest = substr($0, n + 1)
      slash = index(rest, "/")
      word = slash ? substr($0, 1, n + slash) : $0
      if (!(word in seen)) { seen[word] = 1; print word }
    }'))
  [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == */ ]] && compopt -o nospace
}

_oxtrel() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  # "--jobs=4" comes as "--jobs" "=" "4" when '=' breaks words.
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]]; then
    prev=${COMP_WORDS[COMP_CWORD-2]}
  fi
  case $prev in
    -C|--directory) compopt -o filenames; COMPREPLY=($(compgen -d -- "$cur")); return ;;
    -x|--exclude) return ;;
    -j|--jobs)
      # 1 up to the CPUs (at most 64, the most the program takes).
      local cpus
      cpus=$(nproc 2>/dev/null) || cpus=4
      ((cpus > 64)) && cpus=64
      COMPREPLY=($(compgen -W "$(seq 1 "$cpus")" -- "$cur"))
      return ;;
  esac
  # The archives given so far (two with --diff), skipping options and their values.
  local i word skip=0 options=1 diff=0
  local -a archives=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((skip)); then skip=0; continue; fi
    if ((options)); then
      case $word in
        --) options=0; continue ;;
        --diff) diff=1; continue ;;
        -C|-x|-j|-[!-]*[Cxj]) skip=1; continue ;;
        --directory|--exclude|--jobs) [[ ${COMP_WORDS[i+1]} == = ]] || skip=1; continue ;;
        =) skip=1; continue ;;
        -?*) continue ;;
      esac
    fi
    archives+=("$word")
  done
  if ((options)) && [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-l --list --json --names -t --test --extract -C --directory= -x --exclude= --diff
      -O --to-stdout -k --keep-existing -q --quiet -j --jobs= --progress --no-progress -h --help --version' -- "$cur"))
    [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace
    return
  fi
  if ((${#archives[@]} > diff)); then
    _oxtrel_entries "${COMP_WORDS[0]}" "${archives[diff]}"
    return
  fi
  compopt -o filenames
  COMPREPLY=($(compgen -f -X '!*.[vV][rR][kK]' -- "$cur") $(compgen -d -- "$cur"))
}
complete -F _oxtrel oxtrel
