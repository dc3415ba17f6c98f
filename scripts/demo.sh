#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds radioline and runs a short session against the simulated radio: the
# firmware-version probe, then a handful of operations whose results are read
# back and shown.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target radioctl radiosim radioprobe >/dev/null

radioctl=build/tools/radioctl/radioctl
set -x
"$radioctl" --simulate probe version \
  set-freq 145.5M set-duplex 0x11 set-pl 88.5 set-pl --rx 100.0 set-mode 3 store-vfo \
  set-offset -600k get-offset \
  set-split 1000 2000 get-split \
  set-config 0x12 0x34 get-config \
  set-codeplug 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 get-codeplug
