#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The documentation against the code: groff finds nothing to warn about in
# any manual page; each program's page lists the options its --help lists,
# and --version prints the project's version and exits 0; radioline(3)
# names only functions the header declares, and all of them in its
# synopsis. The README and the guides name no option that no program has,
# and their relative links lead to files and headings that exist.
# Usage: docs_test.sh VERSION MAN_DIR SOURCE_DIR NAME=PROGRAM...
set -euo pipefail
version=$1 man_dir=$2 source=$3
shift 3
docs=("$source/README.md" "$source"/docs/*.md)
status=0 helps=
fail() { echo "FAIL: $*" && status=1; }

# Option names in the tags of a page's OPTIONS section, one a line.
pageOptions() {
  sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/{/^\.TP/{n;p}}' "$1" | sed 's/\\-/-/g; s/\\f[BIRP]//g' |
    grep -oE '(^|[ ,"])--?[A-Za-z0-9][-A-Za-z0-9]*' | sed 's/^[ ,"]//' | sort -u
}

# Option names --help lists: the first word of each option line.
helpOptions() { grep -E '^ {2}-' <<<"$1" | awk '{print $1}' | tr ',' '\n' | sort -u; }

# Each program's page is NAME.1 or NAME.8. radioprobe takes no option but
# --version and has no --help to hold its page against.
for entry in "$@"; do
  [ -n "$entry" ] || continue
  name=${entry%%=*} program=${entry#*=}
  printed=$("$program" --version 2>&1) && grep -qw -- "$version" <<<"$printed" ||
    fail "$name --version failed or printed '$printed', not $version"
  [ "$name" = radioprobe ] && continue
  help=$("$program" --help) && helps+=$help$'\n'
  differ=$(diff <(pageOptions "$man_dir/$name".[18]) <(helpOptions "$help") | grep '^[<>]' || true)
  [ -z "$differ" ] || fail "$name: page (<) and --help (>) differ:" $'\n'"$differ"
done

# The functions the header declares, radioline(3)'s synopsis shows and the
# page names elsewhere (as name()).
declared=$(grep -oE '^RADIOLINE_API [^(]*\(' "$source/include/radioline.h" | grep -oE '[a-z_]+\($' | tr -d '(' | sort -u)
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.fi/p' "$man_dir/radioline.3" | grep -oE '[a-z_]+\(' | tr -d '(' | sort -u)
referred=$(grep -oE '^\.R?BR? (\( )?[a-z_]+ \(\)' "$man_dir/radioline.3" | grep -oE '[a-z_]+ \(\)' | cut -d' ' -f1 | sort -u)
[ -n "$declared" ] && [ "$synopsis" = "$declared" ] ||
  fail "radioline(3)'s synopsis (<) and the header (>) differ:"$'\n'"$(diff <(echo "$synopsis") <(echo "$declared"))"
unknown=$(comm -23 <(echo "$referred") <(echo "$declared"))
[ -z "$unknown" ] || fail "radioline(3) names what the header does not declare: $unknown"

# Long options the docs name: the programs' own (--rx of set-pl among
# them), or those of the other commands they show (cmake, ctest,
# pkg-config, useradd, systemctl, mosquitto_sub, the benchmark).
others='--(build|install|prefix|test-dir|output-on-failure|cflags|libs|now|system|no-create-home|groups|retained-only|remove-retained|benchmark_[a-z_]+)'
longOptions() { grep -ohE -- '--[A-Za-z][-A-Za-z0-9_]*' "$@" | sort -u; }
unknown=$(longOptions "${docs[@]}" | grep -vxE -- "$others" | comm -23 - <(longOptions - <<<"$helps"))
[ -z "$unknown" ] || fail "the README or a guide names options no program has:"$'\n'"$unknown"

# A heading's anchor as the Markdown renderers make it.
anchors() { sed -n 's/^#\+ //p' "$1" | tr 'A-Z ' 'a-z-' | tr -cd 'a-z0-9\n-'; }
for doc in "${docs[@]}"; do
  for link in $(grep -oE '\]\([^) ]+\)' "$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:'); do
    file=${link%%#*} anchor=${link#*#} && target=$(dirname "$doc")/${file:-${doc##*/}}
    [ -e "$target" ] || { fail "$doc links to $file, which does not exist"; continue; }
    [ "$anchor" = "$link" ] || anchors "$target" | grep -qx -- "$anchor" || fail "$doc: no heading for $link"
  done
done

for page in "$man_dir"/*.[0-9]; do
  warnings=$(groff -man -ww -z "$page" 2>&1) && [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
done
exit "$status"
