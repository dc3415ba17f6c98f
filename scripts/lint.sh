#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static checks: clang-tidy (rules in .clang-tidy) over the library, the
# tools, the tests, the fuzz targets and the benchmark, using the compile
# commands of a clang build directory of its own (build-lint), then
# clang-format in dry-run mode over every C and C++ source. Exits non-zero
# on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-lint
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DRADIOLINE_BENCH=ON -DRADIOLINE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null

mapfile -t tidy_sources < <(git ls-files --cached --others --exclude-standard \
  'src/*.cpp' 'tools/*.cpp' 'tests/*.cpp' 'fuzz/*.cpp' 'bench/*.cpp')
mapfile -t format_sources < <(git ls-files --cached --others --exclude-standard \
  '*.c' '*.h' '*.cpp')

status=0
echo "clang-tidy: ${#tidy_sources[@]} files" >&2
printf '%s\0' "${tidy_sources[@]}" |
  xargs -0 -n 2 -P "$(nproc)" clang-tidy -p "$build" --quiet 2> >(grep -v 'warnings generated' >&2) ||
  status=1
echo "clang-format: ${#format_sources[@]} files" >&2
clang-format --dry-run --Werror "${format_sources[@]}" || status=1
exit "$status"
