#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library's manual page against its header: every function the page
# names (in its synopsis or as name()) is declared in the header, and the
# synopsis leaves none of them out.
# Usage: library_page_test.sh PAGE HEADER
set -euo pipefail
page=$1 header=$2
declared=$(grep -oE '^RADIOLINE_API [^(]*\(' "$header" | grep -oE '[a-z_]+\($' | tr -d '(' | sort -u)
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.fi/p' "$page" | grep -oE '[a-z_]+\(' | tr -d '(' | sort -u)
referred=$(grep -oE '^\.R?BR? (\( )?[a-z_]+ \(\)' "$page" | grep -oE '[a-z_]+ \(\)' | cut -d' ' -f1 | sort -u)
unknown=$(comm -23 <(sort -u <<<"$synopsis"$'\n'"$referred") <(echo "$declared"))
[ -n "$declared" ] && [ -z "$unknown" ] && [ "$synopsis" = "$declared" ] && exit 0
echo "FAIL: the page names what the header does not declare: $unknown" \
  $'\n'"or its synopsis differs from the header's functions:" $'\n'"$(diff <(echo "$synopsis") <(echo "$declared"))"
exit 1
