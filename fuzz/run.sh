#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzz: builds every libFuzzer target with clang and runs each for SECONDS (default 30).
#
# Each target runs from build-fuzz on a scratch copy of fuzz/corpus/<target>/.
# The first finding stops the script with a non-zero status and keeps its
# input in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build=build-fuzz

bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DRADIOLINE_FUZZ=ON -DRADIOLINE_TESTS=OFF \
  -DRADIOLINE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzzers -j"$(nproc)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  binary="$build/fuzz/fuzz_$target"
  [ -x "$binary" ] || { echo "fuzz: no target built for corpus $corpus" >&2; exit 1; }
  cp -r "$corpus" "$scratch/$target"
  echo "fuzz: $target for ${seconds}s" >&2
  if ! "$binary" -max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
      "$scratch/$target" 2>"$scratch/$target.log"; then
    tail -n 40 "$scratch/$target.log" >&2
    echo "fuzz: $target found a problem; input kept in $build/findings/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$scratch/$target.log" |
    sed "s/^stat::number_of_executed_units:/fuzz: $target ran/; s/\$/ inputs, no finding/"
done
