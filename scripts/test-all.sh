#!/usr/bin/env bash
# Builds every preset and runs every test: installs what is missing on a
# Debian 12 machine, then linux (unit + end-to-end), linux-asan (the same
# under AddressSanitizer and UndefinedBehaviorSanitizer), linux-tsan (unit
# tests under ThreadSanitizer) and windows (MinGW-w64 cross build, unit tests
# under Wine, the tray's in a virtual display, and the client end to end),
# and linux-fuzz (each fuzz target for a fixed number of runs).
# Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

stage() { printf '\n==== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

stage "dependencies"
scripts/install-deps.sh
scripts/build-win-deps.sh
# Every program the tests, benchmarks and scripts start comes from a package
# installed above, so a fresh machine passes too.
scripts/check-programs.py
# The browser driver of the end-to-end tests comes from npm; the tests run
# in network namespaces without a way out, so it is installed here.
(cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error)

for preset in linux linux-asan linux-tsan; do
  stage "$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

stage "linux-fuzz"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$jobs" --target fuzz_all
tests/fuzz/run.sh build/linux-fuzz runs 3000

stage "windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
scripts/ctest-windows.sh build/windows -j "$jobs"
# The .exe end to end: direct road, compressed road through the native
# service of the linux stage, console, options file.
scripts/smoke-windows-client.sh build/windows build/linux/service/NimbrelService
