#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark: builds the exchange and bridge benchmarks in Release and prints
# their tables.
#
# Exchange columns: exchanges per second, library CPU time per exchange and
# its share of the 19200-baud wire time, read and write system calls per
# exchange, and the wire time at 19200 and 115200 baud. Bridge columns:
# median time from a set-freq request to its reply (a tuned libmosquitto
# client, on a radio with every reader and on one that lacks one, and a
# stock python3-paho-mqtt client) and its excess over the
# exchange's wire time on radiosim paced at 19200 baud (through radiobridge
# and a broker, and directly with the library and with radioctl), and with
# four clients the share of the run the line is busy. Extra arguments go to
# both benchmarks (e.g. --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench

bash scripts/deps.sh
cmake -S . -B "$build" -DRADIOLINE_BENCH=ON -DRADIOLINE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target exchange_bench bridge_bench -j"$(nproc)"
"$build/bench/exchange_bench" --benchmark_counters_tabular=true "$@"
"$build/bench/bridge_bench" --benchmark_counters_tabular=true "$@"
