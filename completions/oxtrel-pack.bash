# bash completion for oxtrel-pack
_oxtrel_pack() {
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
    --level) COMPREPLY=($(compgen -W '1 2 3 4 5 6 7 8 9 10 11 12' -- "$cur")); return ;;
    -j|--jobs)
      # 1 up to the CPUs (at most 64, the most the program takes).
      local cpus
      cpus=$(nproc 2>/dev/null) || cpus=4
      ((cpus > 64)) && cpus=64
      COMPREPLY=($(compgen -W "$(seq 1 "$cpus")" -- "$cur"))
      return ;;
    --remove) return ;;  # a pattern, not a file name
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-z --compress --level -j --jobs -h --help --version --update --remove --to
      --drop-broken' -- "$cur"))
    return
  fi
  compopt -o filenames
  COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _oxtrel_pack oxtrel-pack
