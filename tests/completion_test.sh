#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# radioctl's bash completion, driven as bash drives it: options and command
# names as --help lists them, paths after -d, --rx after set-pl only, and
# nothing where a command's value is due.
# Usage: completion_test.sh RADIOCTL COMPLETION_FILE
set -euo pipefail
radioctl=$1 completion=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/radio"
status=0

# What Tab offers after the words given (the last is the one being typed),
# sorted, one a line; computed in a fresh bash with bash-completion loaded
# when it is installed.
offers() {
  bash --norc --noprofile -c '
    [ -r /usr/share/bash-completion/bash_completion ] &&
      . /usr/share/bash-completion/bash_completion
    . "$1"
    shift
    function=$(complete -p radioctl | sed -n "s/.*-F \([^ ]*\).*/\1/p")
    COMP_WORDS=(radioctl "$@") COMP_CWORD=$#
    COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    "$function" radioctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' bash "$completion" "$@"
}

help=$("$radioctl" --help)
options=$(grep -E '^ {2}-' <<<"$help" | awk '{print $1}' | tr ',' '\n' | sort)
commands=$(sed -n '/^Commands:/,$p' <<<"$help" | grep -E '^ {2}[a-z]' | awk '{print $1}' | sort)

check() {
  local expected=$1
  shift
  local got
  got=$(offers "$@")
  [ "$got" = "$expected" ] || {
    echo "FAIL: radioctl $* <Tab> offered:"$'\n'"$got"$'\n'"expected:"$'\n'"$expected"
    status=1
  }
}

check "$options" -
check "$commands" --json ''
check "$scratch/radio" -d "$scratch/ra"
check "$scratch/radio" --broker host --cafile "$scratch/ra"
check $'--help\n--rx' set-pl 88.5 -
check --help set-freq 145.5M -
check "" set-freq ''
check "" - ''
exit "$status"
