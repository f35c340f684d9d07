#!/usr/bin/env bash
# The bash completion of ostrivane-cli, driven as bash drives it: options, the values of
# --policy and --progress, folders only after --to and --to-tree, list files after
# --sources-list, and every long option the program's help names. Exits 77 (skipped) where
# bash-completion is not installed.
# Usage: completion_test.sh COMPLETION-FILE PROGRAM
set -uo pipefail
library=/usr/share/bash-completion/bash_completion
[ -r "$library" ] || { echo "bash-completion is not installed"; exit 77; }
# shellcheck disable=SC1090
source "$library"
# shellcheck disable=SC1090
source "$1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/alpha" "$work/alps" "$work/with space"
touch "$work/alfile" "$work/list.lst" "$work/other.txt"

# The candidates for the command line $1 (the word under the cursor is its last one, empty
# after a trailing space), one a line, sorted.
candidates() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _ostrivane_cli ostrivane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

failed=0
expect() {
  local line=$1 expected=$2 got
  got=$(candidates "$line")
  if [ "$got" != "$expected" ]; then
    printf 'for "%s"\n  expected: %s\n  got:      %s\n' "$line" "${expected//$'\n'/ }" "${got//$'\n'/ }"
    failed=1
  fi
}

expect "ostrivane-cli --pol" "--policy"
expect "ostrivane-cli --to-" "--to-tree"
expect "ostrivane-cli --empty-" $'--empty-first\n--empty-now'
expect "ostrivane-cli --policy s" "skip"
expect "ostrivane-cli -p " $'ask\nnumber\noverwrite\nskip'
expect "ostrivane-cli --progress a" $'always\nauto'
# Folders only, a file of the same beginning left out.
expect "ostrivane-cli x --to $work/al" "$work/alpha"$'\n'"$work/alps"
expect "ostrivane-cli x --to-tree $work/w" "$work/with space"
# List files and folders to go into, no other files.
expect "ostrivane-cli --sources-list $work/" \
  "$work/alpha"$'\n'"$work/alps"$'\n'"$work/list.lst"$'\n'"$work/with space"
# The number of writers is the user's to type.
expect "ostrivane-cli -j " ""
# Every long option of the program, no more.
expect "ostrivane-cli --" "$("$2" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)"
exit $failed
