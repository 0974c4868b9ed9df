#!/usr/bin/env bash
# The installed bash completion of tessaly-cli completes options, their values, and pictures and
# folders, with the options read from the installed program's --help.
source "$(dirname "$0")/common.sh" "$@"
loader=/usr/share/bash-completion/bash_completion
[[ -f $loader ]] || fail "$loader is missing (package bash-completion; scripts/setup installs it)"

prefix="$scratch/prefix"
install_to "$prefix"
completion="$prefix/share/bash-completion/completions/tessaly-cli"
mkdir -p "$scratch/work/frames/sub"
touch "$scratch/work/frames/"{a.bmp,b.PNG,notes.txt}

# The candidates, one a line and sorted, for the command line WORDS... (its last word is the one
# being completed), as bash splits it: "--source=d" arrives as "--source" "=" "d".
candidates() {
  (cd "$scratch/work" && PATH="$prefix/bin:$PATH" bash --norc --noprofile -c '
    source "$1" && source "$2" && shift 2 || exit 1
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE=$1
    for ((i = 1; i < $#; i++)); do
      [[ ${COMP_WORDS[i]} == = || ${COMP_WORDS[i - 1]} == = ]] || COMP_LINE+=" "
      COMP_LINE+=${COMP_WORDS[i]}
    done
    COMP_POINT=${#COMP_LINE}
    _tessaly_cli tessaly-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' bash "$loader" "$completion" "$@")
}
expect() {
  local want=$1 got
  shift
  got=$(candidates "$@" | paste -sd ' ')
  [[ $got == "$want" ]] || fail "completing '$*' gave '$got', not '$want'"
}
expect "--source" tessaly-cli --sou
expect "--recheck --recursive" tessaly-cli --rec
expect "--recursive" tessaly-cli --recu
expect "data-lines" tessaly-cli --source d
expect "data-lines full" tessaly-cli --json --source ""
expect "full" tessaly-cli --source = f
expect "" tessaly-cli --jobs ""
expect "frames/a.bmp frames/b.PNG frames/sub" tessaly-cli -r frames/
expect "frames/notes.txt" tessaly-cli --from-file frames/n
expect "frames/a.bmp frames/b.PNG frames/sub" tessaly-cli -- frames/
# Every option of --help is offered, the short ones too.
listed=$("$prefix/bin/tessaly-cli" --help |
  sed -nE 's/^  -(.), (--[a-z0-9-]+).*/-\1\n\2/p; s/^      (--[a-z0-9-]+).*/\1/p' | LC_ALL=C sort)
offered=$(candidates tessaly-cli -)
[[ $offered == "$listed" && $(wc -l <<< "$listed") -gt 20 ]] ||
  fail "completion offers $(paste -sd ' ' <<< "$offered"); --help lists $(paste -sd ' ' <<< "$listed")"
echo "completion passed"
