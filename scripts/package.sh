#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages (radioline and radioline-dev) and checks them as
# a user meets them: the contents are listed and compared with what must be
# there, both packages are unpacked into a scratch root (nothing is
# installed on this machine), radioctl runs against radiosim from that root
# with no library path set, the Python package imports from it, and
# lintian's errors fail the run. The same shared build also goes through the
# installed-tree test, installed into a scratch prefix of its own.
# The build uses Debian's optimisation and hardening flags, the /usr prefix
# and no tests, in a build directory of its own (the first argument, default
# build-deb).
# Usage: package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
bash scripts/deps.sh

flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
# The binaries are stripped and no debug package is made, so -g would only
# double the build time.
compile="$(flags CPPFLAGS) $(flags CXXFLAGS | sed 's/-g //')"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DRADIOLINE_TESTS=OFF \
  -DCMAKE_C_FLAGS="$compile" -DCMAKE_CXX_FLAGS="$compile" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
runtime=$(echo "$build"/radioline_*.deb)
dev=$(echo "$build"/radioline-dev_*.deb)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# What each package must hold, as patterns of paths (the library directory
# is the multiarch one).
lib='usr/lib/[^/]+'
must_runtime=(
  usr/bin/radioctl usr/bin/radiosim usr/bin/radioprobe usr/bin/radiobridge
  "$lib/libradioline\.so\.0" "$lib/libradioline\.so\.0\.[0-9.]+"
  "(usr/)?lib/systemd/system/radiobridge@\.service"
  "usr/lib/python3/dist-packages/radioline/__init__\.py"
  "usr/lib/python3/dist-packages/radioline/profile\.schema\.json"
  usr/share/man/man1/radioctl.1.gz usr/share/man/man1/radiosim.1.gz
  usr/share/man/man1/radioprobe.1.gz usr/share/man/man8/radiobridge.8.gz
  usr/share/bash-completion/completions/radioctl usr/share/radioline/profile.schema.json
  usr/share/radioline/panel/index.html usr/share/radioline/panel/panel.css
  usr/share/radioline/panel/values.js usr/share/radioline/panel/panel.js
  usr/share/radioline/panel/favicon.png usr/share/radioline/panel/mqtt.min.js
  usr/share/radioline/panel/profile.js usr/share/radioline/panel/profile.schema.json
  usr/share/doc/radioline/copyright usr/share/doc/radioline/changelog.gz
  usr/share/doc/radioline/README.md usr/share/doc/radioline/examples/radioline.conf
  usr/share/doc/radioline/examples/radioline.acl
  usr/share/doc/radioline/examples/radioline-central.conf
  usr/share/doc/radioline/examples/radioline-site.acl usr/share/doc/radioline/docs/panel.png)
for guide in docs/*.md; do
  must_runtime+=("usr/share/doc/radioline/$guide")
done
must_dev=(
  usr/include/radioline.h "$lib/libradioline\.a" "$lib/libradioline\.so"
  "$lib/pkgconfig/radioline\.pc" "$lib/cmake/radioline/radiolineConfig\.cmake"
  usr/share/man/man3/radioline.3.gz
  usr/share/doc/radioline-dev/copyright usr/share/doc/radioline-dev/changelog.gz)

missing=()
check_contents() {
  local deb=$1
  shift
  local listing
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Depends Section
  echo "$listing" | grep -v '/$'
  for pattern in "$@"; do
    grep -Eqx "$pattern" <<<"$listing" || missing+=("$(basename "$deb"): $pattern")
  done
}
check_contents "$runtime" "${must_runtime[@]}"
check_contents "$dev" "${must_dev[@]}"
if [ ${#missing[@]} -gt 0 ]; then
  printf 'missing from the packages:\n' >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi

root=$scratch/root
dpkg-deb -x "$runtime" "$root"
dpkg-deb -x "$dev" "$root"
"$root/usr/bin/radioctl" --version
"$root/usr/bin/radioctl" --simulate version
PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c '
import radioline
with radioline.open(radioline.simulate()) as radio:
    print("python:", radio.get_version(), radio.diff({"offset": 0}))
radioline.stop_simulator()'

lintian_log=$scratch/lintian.log
lintian --fail-on none "$runtime" "$dev" 2>&1 | grep -v 'root privileges' | tee "$lintian_log"
if grep -q '^E:' "$lintian_log"; then
  echo "lintian reports errors" >&2
  exit 1
fi
bash tests/install_test.sh "$build" . "$build/tools/radiosim/radiosim"
echo "packages checked: $(basename "$runtime") $(basename "$dev")"
