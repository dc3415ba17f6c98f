#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library's manual page against its header: every function the page
# names (in its synopsis or as name()) is declared in the header, and every
# function the header declares is in the page's synopsis.
# Usage: library_page_test.sh PAGE HEADER
set -euo pipefail
page=$1 header=$2

# Function names declared in the header, one a line.
declared() { grep -oE '^RADIOLINE_API [a-z ]+\**([a-z]+)\(' "$header" | grep -oE '[a-z]+\($' | tr -d '(' | sort -u; }
# Names in the synopsis's prototypes, one a line.
synopsis() { sed -n '/^\.SH SYNOPSIS/,/^\.fi/p' "$page" | grep -oE '[a-z]+\(' | tr -d '(' | sort -u; }
# Names the page refers to as .BR name () without a section.
referred() { grep -oE '^\.R?BR? (\( )?[a-z]+ \(\)' "$page" | grep -oE '[a-z]+ \(\)' | cut -d' ' -f1 | sort -u; }

status=0
unknown=$(comm -23 <(sort -u <(synopsis) <(referred)) <(declared))
[ -z "$unknown" ] || { echo "FAIL: the page names what the header does not declare:" $unknown; status=1; }
missing=$(comm -13 <(synopsis) <(declared))
[ -z "$missing" ] || { echo "FAIL: the synopsis leaves out:" $missing; status=1; }
[ -n "$(declared)" ] || { echo "FAIL: no declaration found in $header"; status=1; }
exit "$status"
