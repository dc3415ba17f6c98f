#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed tree serves hosts: installs the build into a scratch prefix,
# finds the README, the guides and the example broker files beside it and
# the profile schema beside the Python package,
# runs every installed program from there as it is (no library path set),
# builds the C++ and the two-radio examples through the CMake package and the
# C example through pkg-config, and runs the C and C++ ones against radiosim.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR RADIOSIM
set -euo pipefail
build=$1 source=$2 radiosim=$3
scratch=$(mktemp -d)
trap '[ -z "${SIM_PID:-}" ] || kill "$SIM_PID"; rm -rf "$scratch"' EXIT

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name radioline.pc)
libdir=${pc%/pkgconfig/radioline.pc}
ls "$libdir"/libradioline.a "$libdir"/libradioline.so "$prefix/bin/radioprobe" >/dev/null
ls "$prefix"/share/doc/radioline/{README.md,docs/sharing.md,examples/radioline.conf,examples/radioline.acl} \
  "$prefix"/share/radioline/profile.schema.json >/dev/null
for program in "$prefix"/bin/*; do
  env -u LD_LIBRARY_PATH "$program" --version >/dev/null || { echo "$program does not run"; exit 1; }
done

# The installed Python package reads the profile schema installed beside it.
package=$(find "$prefix" -path '*/radioline/schema.py')
PYTHONPATH=${package%/radioline/schema.py} python3 -c 'import radioline.schema as s; s.schema()'

cmake -S "$source/examples" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-build" --target host_cpp two_radios >/dev/null
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$scratch/host_c" "$source/examples/host.c" \
  $(pkg-config --cflags --libs radioline) -Wl,-rpath,"$libdir"

# Runs a host program and passes its output on, a copy of it on standard
# error (written to the descriptor as it is: reopening /dev/stderr would
# truncate a log file that standard error goes to).
shown() {
  local output
  output=$("$@")
  printf '%s\n' "$output" >&2
  printf '%s\n' "$output"
}

# radiosim's log goes on into the pipe; the few lines the hosts cause fit in it.
coproc SIM { exec "$radiosim" --stay; }
read -r -t 10 device <&"${SIM[0]}"
shown "$scratch/cmake-build/host_cpp" "$device" |
  grep -x 'offset -600000 Hz, config [0-9a-f][0-9a-f] [0-9a-f][0-9a-f]'
shown "$scratch/host_c" "$device" | grep '^tuned to 145.5 MHz, stored in mode 3; firmware '
