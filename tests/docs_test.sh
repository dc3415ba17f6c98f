#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages: groff finds nothing to warn about in any page, each
# program's page lists the options its --help lists, and --version prints
# the project's version and exits 0. The README shows the example broker
# files as they are.
# Usage: docs_test.sh VERSION MAN_DIR README EXAMPLES_DIR NAME=PROGRAM...
set -euo pipefail
version=$1 man_dir=$2 readme=$3 examples=$4
shift 4
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# Option names in the tags of a page's OPTIONS section, one a line.
pageOptions() {
  sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/{/^\.TP/{n;p}}' "$1" | sed 's/\\-/-/g; s/\\f[BIRP]//g' |
    grep -oE '(^|[ ,"])--?[A-Za-z0-9][-A-Za-z0-9]*' | sed 's/^[ ,"]//' | sort -u
}

# Option names --help lists: the first word of each option line.
helpOptions() {
  "$1" --help | grep -E '^ {2}-' | awk '{print $1}' | tr ',' '\n' | sort -u
}

# Each program's page is NAME.1 or NAME.8. radioprobe takes no option but
# --version and has no --help to hold its page against.
for entry in "$@"; do
  [ -n "$entry" ] || continue
  name=${entry%%=*} program=${entry#*=}
  page=$(ls "$man_dir/$name".[18])
  printed=$("$program" --version 2>&1) || fail "$name --version exited $?"
  grep -qw -- "$version" <<<"$printed" || fail "$name --version printed '$printed', not $version"
  [ "$name" = radioprobe ] && continue
  differ=$(diff <(pageOptions "$page") <(helpOptions "$program") | grep '^[<>]' || true)
  [ -z "$differ" ] || fail "$name: page (<) and --help (>) differ:" $'\n'"$differ"
done

shown=$(cat "$readme")
for file in "$examples"/*; do
  [[ $shown == *$'```\n'"$(cat "$file")"$'\n```'* ]] || fail "README does not show $file as it is"
done

for page in "$man_dir"/*.[0-9]; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $page:"$'\n'"$warnings"
done
exit "$status"
