# bash completion for zemnorvo
_zemnorvo() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local commands="status advice sensors ps explain suggestions answer stop watch config metrics widget mcp hook"
  if [[ $COMP_CWORD -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local flags
  case ${COMP_WORDS[1]} in
    status) flags="--line --limit --help" ;;
    ps) flags="--json --help" ;;
    suggestions) flags="--json --help" ;;
    answer) flags="quit keep --help" ;;
    stop) flags="--force --children --reason --json --help" ;;
    watch) flags="--interval --once --help" ;;
    widget) flags="--family --format --appearance --out --help" ;;
    *) flags="--help" ;;
  esac
  COMPREPLY=($(compgen -W "$flags" -- "$cur"))
}
complete -F _zemnorvo zemnorvo
