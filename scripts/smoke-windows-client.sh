#!/usr/bin/env bash
# End-to-end check of the Windows client under Wine, with a virtual display
# (so the tray runs too), inside a network namespace of its own (needs root).
# NimbrelClient.exe starts from another working directory and must:
#   - write its options file next to itself, with CR LF line ends;
#   - serve a page of a native web server through its direct road
#     (127.0.0.1 is always fetched directly);
#   - serve a page of a site on 127.0.0.2 through a native NimbrelService on
#     the compressed road (bzip2 or zstd answers), counting the traffic;
#   - answer on its settings console;
#   - refuse a second copy (exit status 0) and stop on the console's stop
#     request with status 0;
#   - fail with a non-zero status when another program holds its port.
# Usage: scripts/smoke-windows-client.sh [windows build folder] [NimbrelService]
#   (defaults: build/windows and build/linux/service/NimbrelService)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$here/build/windows}" && pwd)"
service="$(realpath "${2:-$here/build/linux/service/NimbrelService}")"
exe="$build/client/NimbrelClient.exe"
[ -f "$exe" ] || { echo "smoke: $exe not built" >&2; exit 2; }
[ -x "$service" ] || { echo "smoke: $service not built" >&2; exit 2; }

if [ "${NB_SMOKE_IN_NS:-}" != 1 ]; then
  exec env NB_SMOKE_IN_NS=1 unshare -n "$0" "$build" "$service"
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$0" "$build" "$service"
fi

work="$(mktemp -d)"
# A prefix of its own: its wineserver (which owns Wine's sockets) must live
# in this namespace.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$server" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "smoke: FAILED: $*" >&2
  [ -f "$work/service.log" ] && sed 's/^/smoke: service log: /' "$work/service.log" >&2
  exit 1
}
wait_port() {
  for _ in $(seq 1 120); do
    ss -ltn | grep -q "$1 " && return 0
    sleep 0.5
  done
  return 1
}

ip link set lo up
ip addr add 127.0.0.2/8 dev lo 2>/dev/null || true
mkdir -p "$work/app" "$work/elsewhere" "$work/site"
cp "$exe" "$work/app/"
cp -r "$here/share" "$work/app/share"
echo "hello from the site" > "$work/site/page.txt"
for i in $(seq 1 400); do echo "<p>Line $i of a page that compresses well.</p>"; done \
  > "$work/site/big.html"

(cd "$work/site" && exec python3 -m http.server 8080 >/dev/null 2>&1) &
pids+=($!)
"$service" --listen 127.0.0.1 --port 443 --allow-private --guest --db "$work/service.db" \
  --log "$work/service.log" </dev/null >"$work/service.out" 2>&1 &
pids+=($!)
wait_port 127.0.0.1:443 || fail "service not listening"
wait_port ':8080' || fail "web server not listening"

# Wine's server and helpers start with /dev/null as stdio, then the client.
"$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
(cd "$work/elsewhere" && exec "$wine" "$work/app/NimbrelClient.exe" </dev/null >/dev/null 2>&1) &
client_pid=$!
wait_port ':4321' || fail "proxy port 4321 not listening"
wait_port ':3344' || fail "settings port 3344 not listening"

ini="$work/app/NimbrelClient.ini"
[ -s "$ini" ] || fail "no NimbrelClient.ini next to the program"
[ ! -e "$work/elsewhere/NimbrelClient.ini" ] || fail "options file written to the working directory"
grep -q $'^Port:4321\r$' "$ini" || fail "options file not normalised"
! grep -q -v $'\r$' "$ini" || fail "options file has lines without CR LF"

body="$(curl -s -m 20 -x 127.0.0.1:4321 http://127.0.0.1:8080/page.txt)" || fail "direct road"
[ "$body" = "hello from the site" ] || fail "direct road answered: $body"
grep -q 'dest=127.0.0.1' "$work/service.log" 2>/dev/null && fail "direct request went to the service"

curl -s -m 30 -x 127.0.0.1:4321 -o "$work/got.html" http://127.0.0.2:8080/big.html ||
  fail "compressed road"
cmp -s "$work/got.html" "$work/site/big.html" || fail "compressed road delivered other bytes"
grep -Eq 'dest=127\.0\.0\.2:8080 .*kinds=([0-9]+,)*[28][ ,].*result=served' "$work/service.log" ||
  fail "page not served compressed (bzip2 or zstd) by the service"
# The counters reach the file within 2 s of the answer.
for _ in $(seq 100); do
  grep -Eq $'^TotalTraffic:[1-9][0-9]*\r$' "$ini" && break
  sleep 0.1
done
total="$(sed -n 's/^TotalTraffic:\([^\r]*\)\r$/\1/p' "$ini")"
compressed="$(sed -n 's/^CompressTraffic:\([^\r]*\)\r$/\1/p' "$ini")"
awk -v t="$total" -v c="$compressed" 'BEGIN { exit !(t > c && c > 0) }' ||
  fail "traffic not counted (total $total, compressed $compressed)"

page="$(curl -s -m 10 http://127.0.0.1:3344/)" || fail "settings console"
case "$page" in *"<html"* | *"<HTML"*) ;; *) fail "settings console answered: $page" ;; esac

# Without a display its message box fails at once instead of waiting for OK.
status=0
(cd "$work/elsewhere" &&
  env -u DISPLAY timeout 60 "$wine" "$work/app/NimbrelClient.exe" </dev/null >/dev/null 2>&1) ||
  status=$?
[ "$status" = 0 ] || fail "second copy ended with status $status"
ss -ltn | grep -q ':4321 ' || fail "first copy stopped serving"

curl -s -m 10 -o /dev/null http://127.0.0.1:3344/stop || true
status=0
wait "$client_pid" || status=$?
[ "$status" = 0 ] || fail "client ended with status $status after the stop request"
ss -ltn | grep -q ':4321 ' && fail "proxy port still open after stop"
# Another program on the proxy port: the client names the port and fails.
python3 -c 'import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 4321)); s.listen(1); time.sleep(120)' &
pids+=($!)
wait_port 127.0.0.1:4321 || fail "stand-in program not listening"
status=0
(cd "$work/elsewhere" &&
  env -u DISPLAY timeout 60 "$wine" "$work/app/NimbrelClient.exe" </dev/null >/dev/null 2>&1) ||
  status=$?
[ "$status" != 0 ] || fail "client on a taken port ended with status 0"
echo "smoke: Windows client OK (direct road, compressed road, console, CR LF options)"
