# bash completion for oxtrel-pack
_oxtrel_pack() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  if [[ $prev == --level ]]; then
    COMPREPLY=($(compgen -W '1 2 3 4 5 6 7 8 9 10 11 12' -- "$cur"))
    return
  fi
  if [[ $prev == --remove ]]; then
    return  # a pattern, not a file name
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-z --compress --level -h --help --version --update --remove --to --drop-broken' -- "$cur"))
    return
  fi
  compopt -o filenames
  COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _oxtrel_pack oxtrel-pack
