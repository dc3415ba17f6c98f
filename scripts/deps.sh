#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build dependencies that a fresh Debian machine lacks: the
# header-only command-line and JSON libraries the tools use, and the npm
# packages of the browser panel (mqtt.js, served beside the page, and
# playwright-core, which drives Debian's Chromium in the panel's tests). The
# library itself needs nothing beyond the C++ standard library and POSIX.
set -euo pipefail
cd "$(dirname "$0")/.."

needed=()
# The bridge links libmosquitto, found through pkg-config. Its tests run a
# private broker, its command-line clients and openssl for their TLS
# certificates; its benchmark times a stock python3-paho-mqtt client, and
# its dashboard announcements are rendered with python3-jinja2. The Python
# package is tested with pytest.
# The manual pages are checked with groff and radioctl's completion with
# bash-completion; the Debian packages need dpkg-dev and file (dependencies
# from the binaries) and lintian. The panel's tests run in Chromium.
for package in libcli11-dev nlohmann-json3-dev libmosquitto-dev pkg-config mosquitto \
  mosquitto-clients openssl python3-paho-mqtt python3-jinja2 python3-pytest groff-base \
  bash-completion dpkg-dev file lintian chromium; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    needed+=("$package")
done
# Node.js and npm, from Debian when the machine has none of its own.
command -v npm >/dev/null || needed+=(nodejs npm)

if [ ${#needed[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing ${needed[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${needed[@]}" >/dev/null
fi

# The npm packages exactly as package-lock.json pins them, again only when
# the lock file changed. No package runs install scripts, so none fetches a
# browser of its own: the tests use /usr/bin/chromium.
stamp=node_modules/.installed-lock.json
if ! cmp -s package-lock.json "$stamp"; then
  npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
  cp package-lock.json "$stamp"
fi
