#!/bin/sh
# Runs one Windows program that needs a display: under 64-bit Wine, inside
# xvfb-run, with a wineserver of its own in the given prefix (started inside
# the virtual display and stopped at the end, so no later run finds a server
# tied to a display that is gone). Exits with the program's status.
# Usage: wine-gui.sh <wine prefix> <program.exe> [arguments...]
set -e
prefix="$1"
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    "$server" -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
# The server and Wine's helper processes must not keep the caller's output
# pipe open: they are started with /dev/null first, then the program runs.
exec xvfb-run -a sh -c '
  server="$1" wine="$2"
  shift 2
  "$server" -k </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
  "$server" -p </dev/null >/dev/null 2>&1 || true
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
  status=0
  "$wine" "$@" || status=$?
  "$server" -k </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
  exit $status' sh "$server" "$wine" "$@"
