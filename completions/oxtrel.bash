# bash completion for oxtrel
_oxtrel() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -C|--directory) compopt -o filenames; COMPREPLY=($(compgen -d -- "$cur")); return ;;
    -x|--exclude|-j|--jobs) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-l --list --json --diff -t --test -C --directory= -x --exclude= -O --to-stdout
      -k --keep-existing -q --quiet -j --jobs= --progress --no-progress -h --help --version' -- "$cur"))
    [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace
    return
  fi
  compopt -o filenames
  COMPREPLY=($(compgen -f -X '!*.[vV][rR][kK]' -- "$cur") $(compgen -d -- "$cur"))
}
complete -F _oxtrel oxtrel
