#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static checks: clang-tidy (rules in .clang-tidy, the naming style among
# them) over the library, the tools, the tests, the fuzz targets and the
# benchmarks, using the compile commands of a clang build directory of its
# own (build-lint, or $LINT_BUILD_DIR), then clang-format in dry-run mode
# over every C and C++ source. The path-sensitive analyzer, by far the
# costliest check, runs on the library and the tools, where it finds real
# faults; test code, which is mostly framework macros, gets every other
# check. Files are checked in parallel, one per core. Exits non-zero on any
# finding.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${LINT_BUILD_DIR:-build-lint}"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DRADIOLINE_BENCH=ON -DRADIOLINE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null

sources() { git ls-files --cached --others --exclude-standard "$@"; }
mapfile -t product < <(sources 'src/*.cpp' 'tools/*.cpp')
mapfile -t test_code < <(sources 'tests/*.cpp' 'fuzz/*.cpp' 'bench/*.cpp')
mapfile -t format_sources < <(sources '*.c' '*.h' '*.cpp')

# clang-tidy over the files given, extra options first, one process per core.
tidy() {
  local options=$1
  shift
  printf '%s\0' "$@" |
    xargs -0 -n 1 -P "$(nproc)" clang-tidy -p "$build" --quiet $options \
      2> >(grep -v 'warnings generated' >&2)
}

status=0
echo "clang-tidy: ${#product[@]} library and tool files, ${#test_code[@]} test files" >&2
tidy "" "${product[@]}" || status=1
tidy "--checks=-clang-analyzer-*" "${test_code[@]}" || status=1
echo "clang-format: ${#format_sources[@]} files" >&2
clang-format --dry-run --Werror "${format_sources[@]}" || status=1
exit "$status"
