# bash completion for zemnorvo
_zemnorvo() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local commands="status advice sensors ps explain suggestions answer stop watch config metrics widget mcp hook disk apps uninstall"
  commands+=" connect disconnect"
  if [[ $COMP_CWORD -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local flags
  case ${COMP_WORDS[1]} in
    status) flags="--line --limit --help" ;;
    ps) flags="--sort --limit --user --json --help" ;;
    metrics|sensors|config|apps) flags="--json --help" ;;
    disk) flags="allow disallow --depth --json --help" ;;
    uninstall) flags="--leftovers --permanently --dry-run --retry --help" ;;
    suggestions) flags="--json --help" ;;
    answer) flags="quit uninstall keep --help" ;;
    stop) flags="--force --children --reason --json --help" ;;
    watch) flags="--interval --once --quiet --help" ;;
    connect) flags="--executable --status --json --help" ;;
    widget) flags="--family --format --appearance --out --help" ;;
    *) flags="--help" ;;
  esac
  COMPREPLY=($(compgen -W "$flags" -- "$cur"))
}
complete -F _zemnorvo zemnorvo
