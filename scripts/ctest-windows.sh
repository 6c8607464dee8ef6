#!/usr/bin/env bash
# Runs the Windows build's tests under Wine with one wineserver kept alive for
# the whole run, then stops it. Usage:
#   scripts/ctest-windows.sh [build folder] [ctest arguments...]
# (default folder: build/windows, the "windows" preset's).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/windows}"
[ $# -gt 0 ] && shift
build="$(cd "$build" && pwd)"

prefix="$(sed -n 's/^NIMBREL_WINEPREFIX:PATH=//p' "$build/CMakeCache.txt")"
[ -n "$prefix" ] || { echo "ctest-windows: $build is not a Windows build folder" >&2; exit 2; }
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
unset DISPLAY WAYLAND_DISPLAY
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

wine=/usr/lib/wine/wine64

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
fi
# One server for the whole run (if one already runs, it stays). Its stdio and
# that of Wine's helpers, which the first program starts, is /dev/null: they
# must hold no pipe of ours or of ctest's.
"$server" -p </dev/null >/dev/null 2>&1 || true
"$wine" wineboot </dev/null >/dev/null 2>&1 || true
trap '"$server" -k </dev/null >/dev/null 2>&1 || true' EXIT

cd "$build"
ctest "$@"
