#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed tree serves hosts: installs the build into a scratch prefix,
# runs every installed program from there as it is (no library path set),
# builds the C++ example through the CMake package and the C example through
# pkg-config, and runs both against radiosim.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR RADIOSIM
set -euo pipefail
build=$1 source=$2 radiosim=$3
scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name radioline.pc)
libdir=${pc%/pkgconfig/radioline.pc}
for file in include/radioline.h bin/radioprobe "${libdir#"$prefix"/}/cmake/radioline/radiolineConfig.cmake"; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
ls "$libdir"/libradioline.a "$libdir"/libradioline.so >/dev/null
for program in "$prefix"/bin/*; do
  env -u LD_LIBRARY_PATH "$program" --version >/dev/null || { echo "$program does not run"; exit 1; }
done

cmake -S "$source/examples" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-build" --target host_cpp >/dev/null

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$scratch/host_c" "$source/examples/host.c" \
  $(pkg-config --cflags --libs radioline) -Wl,-rpath,"$libdir"

"$radiosim" --stay >"$scratch/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.log" ] && break
  sleep 0.05
done
device=$(head -n 1 "$scratch/sim.log")
[ -n "$device" ] || { echo "radiosim printed no device"; exit 1; }

"$scratch/cmake-build/host_cpp" "$device" | tee "$scratch/cpp.out"
grep -qx 'offset -600000 Hz, config [0-9a-f][0-9a-f] [0-9a-f][0-9a-f]' "$scratch/cpp.out"
"$scratch/host_c" "$device" | tee "$scratch/c.out"
grep -q '^tuned to 145.5 MHz, stored in mode 3; firmware ' "$scratch/c.out"
echo "installed tree: programs, C host (pkg-config) and C++ host (CMake package) ran"
