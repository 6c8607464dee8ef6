#!/usr/bin/env bash
# Installs, on Debian 12, what Nimbrel needs (what is there already is kept):
#   install-deps.sh          everything: build, run, tests and benchmarks
#   install-deps.sh --run    only building and running (scripts/run.sh)
#   install-deps.sh --list   prints the names of the full set, installs nothing
set -euo pipefail
# Building the client and the service, and running them.
run_pkgs=(
  cmake g++ make pkg-config python3
  libbz2-dev libgtest-dev libjpeg62-turbo-dev libsqlite3-dev libssl-dev libzstd-dev
  libwebp-dev libavif-dev libpng-dev libgif-dev
)
# Tests, the Windows cross build and benchmarks.
test_pkgs=(
  git g++-mingw-w64-x86-64 wine64 xvfb xauth dpkg-dev
  nginx-light squid apache2-utils tinyproxy chromium
  iproute2 libjpeg-turbo-progs webp curl imagemagick xdotool wrk librsvg2-bin openssl
  postgresql libpq-dev clang clang-14 libclang-rt-14-dev
  libbrotli-dev zlib1g-dev zstd
)
# The browser tests drive Chromium from Node.js with npm's playwright-core:
# the machine's own node and npm serve; Debian's are taken only when absent.
node_pkgs=(nodejs npm)

case "${1:-}" in
  --list)
    printf '%s\n' "${run_pkgs[@]}" "${test_pkgs[@]}" "${node_pkgs[@]}"
    exit 0
    ;;
  --run) pkgs=("${run_pkgs[@]}") ;;
  "") pkgs=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
  *)
    echo "usage: $0 [--run | --list]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ "${1:-}" != "--run" ] && ! command -v npm >/dev/null 2>&1; then
  missing+=("${node_pkgs[@]}")
fi
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
