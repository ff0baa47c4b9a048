# bash completion for zemnorvo
_zemnorvo() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local commands="status advice sensors ps explain suggestions answer stop watch config metrics widget mcp hook disk apps uninstall cleanup"
  commands+=" fans fan-helper"
  commands+=" updates self-update"
  commands+=" connect disconnect"
  commands+=" run"
  if [[ $COMP_CWORD -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local flags
  case ${COMP_WORDS[1]} in
    status) flags="--line --limit --help" ;;
    ps) flags="--sort --limit --user --json --help" ;;
    metrics|sensors|config|apps) flags="--json --help" ;;
    updates) flags="--json --help" ;;
    self-update) flags="--check --help" ;;
    disk) flags="allow disallow --depth --json --help" ;;
    uninstall) flags="--leftovers --permanently --dry-run --retry --help" ;;
    suggestions) flags="--json --help" ;;
    answer) flags="quit clean uninstall keep --help" ;;
    cleanup) flags="run --dry-run --timeout --json --help" ;;
    stop) flags="--force --children --reason --json --help" ;;
    watch) flags="--interval --once --quiet --help" ;;
    connect) flags="--executable --status --json --help" ;;
    widget) flags="--family --format --appearance --out --help" ;;
    fans) flags="set auto boost max --json --socket --help" ;;
    fan-helper) flags="--allow-user --allow-group --lease --socket --help" ;;
    *) flags="--help" ;;
  esac
  COMPREPLY=($(compgen -W "$flags" -- "$cur"))
}
complete -F _zemnorvo zemnorvo
