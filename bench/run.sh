#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark: builds the exchange benchmark in Release and prints its table.
#
# Columns: exchanges per second, library CPU time per exchange and its share
# of the 19200-baud wire time, read and write system calls per exchange, and
# the wire time at 19200 and 115200 baud. Extra arguments go to the benchmark
# (e.g. --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench

bash scripts/deps.sh
cmake -S . -B "$build" -DRADIOLINE_BENCH=ON -DRADIOLINE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target exchange_bench -j"$(nproc)"
"$build/bench/exchange_bench" --benchmark_counters_tabular=true "$@"
