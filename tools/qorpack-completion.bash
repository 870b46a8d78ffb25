# Bash completion of qorpack, installed as share/bash-completion/completions/qorpack: commands, the
# options of each, and after them the files each takes (packing lists, packages, folders). It needs
# nothing from the bash-completion package, so it also works when sourced on its own.

# Files whose name ends in one of the extensions (any case), and folders to go on into.
_qorpack_files() {
  local cur=$1 extensions=$2 IFS=$'\n'
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -d -- "$cur"))
  if [ -n "$extensions" ]; then
    COMPREPLY+=($(shopt -s nocasematch; compgen -f -- "$cur" | while read -r f; do
      [[ -f $f && $f =~ \.($extensions)$ ]] && printf '%s\n' "$f"; done))
  else
    COMPREPLY+=($(compgen -f -- "$cur"))
  fi
}

_qorpack() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command=${COMP_WORDS[1]}
  local commands="build init list verify extract implode explode help"
  COMPREPLY=()
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  # Values of options that take one.
  case $prev in
    -j | --jobs) COMPREPLY=($(compgen -W "1 2 4 8 $(nproc 2>/dev/null)" -- "$cur")); return ;;
    --dict) COMPREPLY=($(compgen -W "1024 2048 4096" -- "$cur")); return ;;
    --stub | --output) _qorpack_files "$cur" exe; return ;;
    --depfile) _qorpack_files "$cur" ""; return ;;
  esac

  case $command in
    build | /m | /M)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-j --jobs --stub --output --depfile --strict --quiet --json --help" -- "$cur"))
      else
        _qorpack_files "$cur" ini
      fi ;;
    init) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")) ;;
    list)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
      else
        _qorpack_files "$cur" exe
      fi ;;
    verify)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
      else
        _qorpack_files "$cur" exe
      fi ;;
    extract)
      # PKG first, then the folder to write into.
      if [ "$COMP_CWORD" -eq 2 ]; then
        _qorpack_files "$cur" exe
      else
        compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur"))
      fi ;;
    implode) COMPREPLY=($(compgen -W "--ascii --dict --help" -- "$cur")) ;;
    help) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
  esac
  return 0
}
complete -F _qorpack qorpack
