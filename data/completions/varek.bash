# bash completion for varek
_varek() {
  local current="${COMP_WORDS[COMP_CWORD]}" previous="${COMP_WORDS[COMP_CWORD-1]}"
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "query run bench signal --help --version" -- "$current"))
    return
  fi
  case "$previous" in
    --mode) COMPREPLY=($(compgen -W "all files clipboard windows" -- "$current")); return ;;
    --action) COMPREPLY=($(compgen -W "open reveal copy" -- "$current")); return ;;
    --row) return ;;
  esac
  case "${COMP_WORDS[1]}" in
    query) COMPREPLY=($(compgen -W "--mode --json --help --" -- "$current")) ;;
    run) COMPREPLY=($(compgen -W "--mode --row --action --confirm --help --" -- "$current")) ;;
    signal)
      ((COMP_CWORD == 2)) &&
        COMPREPLY=($(compgen -W "toggle show hide query mode down enter bench" -- "$current")) ;;
  esac
}
complete -F _varek varek
