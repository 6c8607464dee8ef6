#!/bin/sh
# Test emulator of the Windows build: runs one .exe under 64-bit Wine.
# Usage: wine-emulator.sh <wine prefix> <program.exe> [arguments...]
#
# Creates the prefix on first use (once, under a lock, so parallel tests do not
# race), and keeps one wineserver alive between test processes: each test then
# starts in a fraction of a second instead of paying a full Wine start. The
# server and its helpers get /dev/null as stdio, so no pipe of the caller
# (ctest reads each test's output through one) stays open behind the test.
set -e
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# Console programs need no display; keep Wine from looking for one.
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

# Under one lock, so parallel tests neither race to create the prefix nor to
# start the server.
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    "$server" -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # Starts a server that outlives this test by a minute; when one already
  # runs (for instance `wineserver -p` from scripts/ctest-windows.sh) this
  # fails at once and changes nothing.
  if "$server" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    # A fresh server starts Wine's helper processes (services, devices) with
    # the first program it runs, and they inherit that program's stdio. Let
    # them inherit /dev/null here instead of the test's output pipe, which
    # ctest would otherwise wait on until the server ends.
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"

exec "$wine" "$@"
