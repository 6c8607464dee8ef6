#!/usr/bin/env bash
# Runs the installer's Wine test in a network namespace, a Wine prefix and an
# X display of its own, then checks that the client the installer started
# serves a page on port 4321. Needs root (network namespace).
# Usage: run_setup_install.sh <setup_install_test.exe> <NimbrelClient.exe> <share folder>
set -euo pipefail
test_exe="$1" client_exe="$2" share="$3"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64

if [ "${NB_SETUP_STAGE:-}" = "" ]; then
  exec env NB_SETUP_STAGE=ns unshare -n "$0" "$@"
fi

if [ "$NB_SETUP_STAGE" = ns ]; then
  work="$(mktemp -d)"
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all NB_SETUP_WORK="$work"
  unset DISPLAY WAYLAND_DISPLAY
  site_pid=""
  cleanup() {
    [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null || true
    "$server" -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$work"
  }
  trap cleanup EXIT
  ip link set lo up
  ip addr add 127.0.0.2/8 dev lo 2>/dev/null || true
  mkdir -p "$work/site"
  echo "hello from the site" > "$work/site/page.txt"
  (cd "$work/site" && exec python3 -m http.server 8080 --bind 127.0.0.2 >/dev/null 2>&1) &
  site_pid=$!
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  # The server and its desktop process must start again with the display.
  "$server" -w </dev/null >/dev/null 2>&1 || true
  # Everything that needs the display, the client the installer starts
  # included, runs inside one xvfb-run.
  NB_SETUP_STAGE=x xvfb-run -a "$0" "$@"
  exit $?
fi

fail() { echo "setup install: FAILED: $*" >&2; exit 1; }
# Wine sees the build's files through drive Z:.
NB_CLIENT_EXE="Z:${client_exe//\//\\}" NB_SHARE="Z:${share//\//\\}\\" \
  "$wine" "$test_exe" </dev/null || fail "installation test"

for _ in $(seq 1 60); do
  ss -ltn | grep -q ':4321 ' && break
  sleep 0.5
done
ss -ltn | grep -q ':4321 ' || fail "the started client does not listen on 4321"
body="$(curl -s -m 20 -x 127.0.0.1:4321 http://127.0.0.2:8080/page.txt)" || fail "request through the client"
[ "$body" = "hello from the site" ] || fail "unexpected page: $body"
curl -s -m 10 -o /dev/null http://127.0.0.1:3344/stop || true
for _ in $(seq 1 40); do
  ss -ltn | grep -q ':4321 ' || break
  sleep 0.5
done

# The uninstall script, its two message boxes answered, puts back the
# browser values the installer replaced and removes the ones it created.
drive_c="$WINEPREFIX/drive_c"
LC_ALL=C sed 's/^Answ = MsgBox.*/Answ = vbYes/; s/^MsgBox .*//' \
  "$drive_c/windows/NimbrelUninstall.vbs" > "$drive_c/uninstall-test.vbs"
"$wine" cscript //nologo 'C:\uninstall-test.vbs' </dev/null >/dev/null 2>&1 || fail "uninstall script"
ie='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
settings="$("$wine" reg query "$ie" </dev/null 2>/dev/null | tr -d '\r')"
connections="$("$wine" reg query "$ie\Connections" </dev/null 2>/dev/null | tr -d '\r')"
grep -Eq 'ProxyServer +REG_SZ +old:8080$' <<<"$settings" || fail "ProxyServer not restored"
grep -q 'ProxyOverride\|Http1' <<<"$settings" && fail "created values left behind"
grep -Eq 'DefaultConnectionSettings +REG_BINARY +4F4C44$' <<<"$connections" || fail "blob not restored"
grep -q 'Home\|SavedLegacySettings' <<<"$connections" && fail "created blobs left behind"
# The last installation went to "C:\Nimbrel Blocked" (see the test's last case).
[ ! -e "$drive_c/Nimbrel Blocked" ] || fail "installation folder left behind"
echo "setup install: OK"
