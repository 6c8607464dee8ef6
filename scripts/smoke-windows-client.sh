#!/usr/bin/env bash
# Start-and-stop check of the Windows client under Wine, inside a network
# namespace of its own (needs root): the client starts from another working
# directory, writes its options file next to itself, relays one request to a
# local web site, refuses a second copy (exit status 0) and stops on the
# settings console's stop request. Usage:
#   scripts/smoke-windows-client.sh [build folder]   (default build/windows)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$here/build/windows}" && pwd)"
exe="$build/client/NimbrelClient.exe"
[ -f "$exe" ] || { echo "smoke: $exe not built" >&2; exit 2; }

if [ "${NB_SMOKE_IN_NS:-}" != 1 ]; then
  exec env NB_SMOKE_IN_NS=1 unshare -n "$0" "$build"
fi

work="$(mktemp -d)"
# A prefix of its own: its wineserver (which owns Wine's sockets) must live
# in this namespace.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
server=/usr/lib/wine/wineserver64
site_pid=""
cleanup() {
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null || true
  "$server" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "smoke: FAILED: $*" >&2; exit 1; }

ip link set lo up
ip addr add 127.0.0.2/8 dev lo 2>/dev/null || true
mkdir -p "$work/app" "$work/elsewhere" "$work/site"
cp "$exe" "$work/app/"
echo "hello from the site" > "$work/site/page.txt"
(cd "$work/site" && exec python3 -m http.server 8080 --bind 127.0.0.2 >/dev/null 2>&1) &
site_pid=$!

run() { "$here/cmake/wine-emulator.sh" "$WINEPREFIX" "$@"; }
(cd "$work/elsewhere" && run "$work/app/NimbrelClient.exe" </dev/null >/dev/null 2>&1) &
client_pid=$!
for _ in $(seq 1 120); do
  ss -ltn | grep -q ':4321 ' && ss -ltn | grep -q ':3344 ' && break
  sleep 0.5
done
ss -ltn | grep -q ':4321 ' || fail "proxy port 4321 not listening"

[ -f "$work/app/NimbrelClient.ini" ] || fail "no NimbrelClient.ini next to the program"
[ ! -e "$work/elsewhere/NimbrelClient.ini" ] || fail "options file written to the working directory"
grep -q $'^Port:4321\r$' "$work/app/NimbrelClient.ini" || fail "options file not normalised"

body="$(curl -s -m 20 -x 127.0.0.1:4321 http://127.0.0.2:8080/page.txt)" || fail "request through the proxy"
[ "$body" = "hello from the site" ] || fail "unexpected answer: $body"

status=0
(cd "$work/elsewhere" && run "$work/app/NimbrelClient.exe" </dev/null >/dev/null 2>&1) || status=$?
[ "$status" = 0 ] || fail "second copy ended with status $status"
ss -ltn | grep -q ':4321 ' || fail "first copy stopped serving"

curl -s -m 10 -o /dev/null http://127.0.0.1:3344/stop || true
status=0
wait "$client_pid" || status=$?
[ "$status" = 0 ] || fail "client ended with status $status after the stop request"
ss -ltn | grep -q ':4321 ' && fail "proxy port still open after stop"
echo "smoke: Windows client OK"
