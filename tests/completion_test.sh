#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# radioctl's bash completion, driven as bash drives it: options and command
# names as --help lists them, paths after -d and the profile commands,
# --rx after set-pl only, --dry-run after apply, and
# nothing where a command's value is due.
# Usage: completion_test.sh RADIOCTL COMPLETION_FILE
set -euo pipefail
radioctl=$1 completion=$2
status=0

# What Tab offers after the words given (the last is the one being typed),
# sorted, one a line; computed in a fresh bash with bash-completion loaded
# when it is installed.
offers() {
  COMPLETION=$completion bash --norc --noprofile -c '
    . /usr/share/bash-completion/bash_completion 2>/dev/null
    . "$COMPLETION"
    function=$(complete -p radioctl | sed -n "s/.*-F \([^ ]*\).*/\1/p")
    COMP_WORDS=(radioctl "$@") COMP_CWORD=$#
    COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    "$function" radioctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' bash "$@"
}

help=$("$radioctl" --help)
options=$(grep -E '^ {2}-' <<<"$help" | awk '{print $1}' | tr ',' '\n' | sort)
commands=$(sed -n '/^Commands:/,$p' <<<"$help" | grep -E '^ {2}[a-z]' | awk '{print $1}' | sort)

check() {
  local expected=$1 got
  shift
  got=$(offers "$@")
  [ "$got" = "$expected" ] && return
  printf 'FAIL: radioctl %s <Tab> offered:\n%s\nexpected:\n%s\n' "$*" "$got" "$expected"
  status=1
}

# A path to complete: the completion file's own, its last letter to type.
check "$options" -
check "$commands" --json ''
check "$completion" -d "${completion%?}"
check "$completion" --broker host --cafile "${completion%?}"
check $'--help\n--rx' set-pl 88.5 -
check --help set-freq 145.5M -
check "$completion" apply "${completion%?}"
check $'--dry-run\n--help' apply club.json -
check "" set-freq ''
check "" - ''
exit "$status"
