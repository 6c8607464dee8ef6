#!/usr/bin/env bash
# Installs, on Debian 12, everything the build, the tests and the run need.
set -euo pipefail
pkgs=(
  cmake g++ make pkg-config python3 git
  libbz2-dev libgtest-dev libjpeg62-turbo-dev libsqlite3-dev
  g++-mingw-w64-x86-64 wine64 xvfb xauth dpkg-dev
  nginx-light squid apache2-utils tinyproxy chromium
  iproute2 libjpeg-turbo-progs curl imagemagick
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
# The browser tests drive Chromium from Node.js with npm's playwright-core:
# the machine's own node and npm serve; Debian's are taken only when absent.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
