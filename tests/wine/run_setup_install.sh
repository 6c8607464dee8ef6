#!/usr/bin/env bash
# Runs the installer's Wine test in a network namespace, a Wine prefix (ANSI
# code page 1252) and an X display of its own. Around it: a browser stand-in
# (WinINet with the preconfigured proxy) goes direct before the installation,
# through the client the installer started after "Да", and direct again after
# the uninstall script has run while the client was running; and the prefix's
# registry and file tree are the same before the installation and after the
# uninstallation. Needs root (network namespace).
# Usage: run_setup_install.sh <setup_install_test.exe> <NimbrelClient.exe> <share folder>
#                             <wininet_fetch.exe>
set -euo pipefail
test_exe="$1" client_exe="$2" share="$3" fetch_exe="$4"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64

if [ "${NB_SETUP_STAGE:-}" = "" ]; then
  exec env NB_SETUP_STAGE=ns unshare -n "$0" "$@"
fi

if [ "$NB_SETUP_STAGE" = ns ]; then
  work="$(mktemp -d)"
  # The C locale gives Wine the ANSI code page 1252.
  # No desktop integration: Wine would note the shortcuts in its own keys.
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all NB_SETUP_WORK="$work" LC_ALL=C.UTF-8 \
    WINEDLLOVERRIDES="winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy
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
  for p in direct-before via-client direct-after; do echo "$p" > "$work/site/$p.txt"; done
  (cd "$work/site" && exec python3 -m http.server 8080 --bind 127.0.0.2 >/dev/null 2>"$work/site.log") &
  site_pid=$!
  WINEDLLOVERRIDES="mscoree,mshtml=;$WINEDLLOVERRIDES" "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  # The server and its desktop process must start again with the display.
  "$server" -w </dev/null >/dev/null 2>&1 || true
  # Everything that needs the display, the client the installer starts
  # included, runs inside one xvfb-run.
  NB_SETUP_STAGE=x xvfb-run -a "$0" "$@"
  exit $?
fi

fail() { echo "setup install: FAILED: $*" >&2; exit 1; }
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Program Files/Сжатие Nimbrel"
ie='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
reg() { "$wine" reg "$@" </dev/null >/dev/null 2>&1; }
fetch() { "$wine" "$fetch_exe" "http://127.0.0.2:8080/$1.txt" </dev/null 2>/dev/null | tr -d '\r'; }
listens() { ss -ltn | grep -q ':4321 '; }

# What the user had before: browser settings (the proxy switched off, no
# Connections key, as in a fresh prefix), a dial-up connection book and the
# compatibility key.
reg add "$ie" /v ProxyServer /t REG_SZ /d old:8080 /f
reg add "$ie" /v ProxyEnable /t REG_DWORD /d 0 /f
reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers' \
  /v Other.exe /t REG_SZ /d WIN95 /f
pbk="$drive_c/ProgramData/Application Data/Microsoft/Network/Connections/Pbk"
[ -d "$drive_c/ProgramData" ] || fail "no ProgramData folder in the prefix"
mkdir -p "$pbk"
printf '[Home]\r\nPhone=1\r\n\r\n[Office]\r\nPhone=2\r\n' > "$pbk/rasphone.pbk"

# Wine registers the script host's type library on its first run and its
# console settings on the first hidden console: both happen here, not in
# between the listings.
printf 'CreateObject("WScript.Shell").Run "reg.exe query HKCU\\Console", 0, True\r\n' > "$drive_c/warm.vbs"
"$wine" cscript //nologo 'C:\warm.vbs' </dev/null >/dev/null 2>&1 || fail "script host"
rm -f "$drive_c/warm.vbs"

# Nothing listens on 4321 yet: a page that arrives came directly. This first
# fetch also lays down WinINet's own per-user folders before the listing.
[ "$(fetch direct-before)" = direct-before ] || fail "WinINet before the installation"

# The prefix as listed: the registry exported (Wine's own volatile keys and
# the time stamps left out) and the file tree of drive C: without temporary
# files and WinINet's cache entries.
listing() {
  local out="$1"
  "$server" -w </dev/null >/dev/null 2>&1 || true
  : > "$out"
  for root in HKCU HKLM\\Software; do
    "$wine" reg export "$root" "C:\\listing.reg" /y </dev/null >/dev/null 2>&1 || fail "reg export $root"
    iconv -f UTF-16LE -t UTF-8 "$drive_c/listing.reg" | tr -d '\r' >> "$out"
    rm -f "$drive_c/listing.reg"
  done
  # Values a Wine process or WinINet rewrites on every run.
  sed -i -E '/^"(InstallDate|LastBootTime|.*[Tt]ime[Ss]tamp.*)"=/d' "$out"
  (cd "$drive_c" && find . \( -path './windows/temp' -o -path './users/*/Temp' \
      -o -path '*/Temporary Internet Files' -o -path '*/INetCache' -o -path '*/INetCookies' \
      -o -path '*/History' -o -path '*/Cookies' \) -prune -o -print | LC_ALL=C sort) >> "$out"
}
listing "$WINEPREFIX/../before.txt"

# Wine sees the build's files through drive Z:.
NB_CLIENT_EXE="Z:${client_exe//\//\\}" NB_SHARE="Z:${share//\//\\}\\" \
  timeout 300 "$wine" "$test_exe" </dev/null || fail "installation test"

for _ in $(seq 1 60); do listens && break; sleep 0.5; done
listens || fail "the started client does not listen on 4321"
body="$(curl -s -m 20 -x 127.0.0.1:4321 http://127.0.0.2:8080/page.txt)" || fail "request through the client"
[ "$body" = "hello from the site" ] || fail "unexpected page: $body"

# After "Да" the browser stand-in goes through the client: the page arrives
# and the client's URL log names it.
[ "$(fetch via-client)" = via-client ] || fail "WinINet through the client"
grep -q 'via-client.txt' "$folder/nimbrel.log" || fail "the client did not carry the WinINet request"

# The uninstall script as the Start menu runs it, unattended, while the
# client runs.
"$wine" cscript //nologo 'C:\windows\NimbrelUninstall.vbs' /S </dev/null >/dev/null 2>&1 ||
  fail "uninstall script reports what it could not remove"
listens && fail "the client still runs after the uninstall"
[ ! -e "$drive_c/windows/NimbrelUninstall.vbs" ] || fail "uninstall script left behind"
[ ! -e "$folder" ] || fail "installation folder left behind"

# Direct again: nothing listens on 4321, and the page still arrives.
[ "$(fetch direct-after)" = direct-after ] || fail "WinINet after the uninstallation"
grep -q '"GET /direct-after.txt' "$WINEPREFIX/../site.log" || fail "site did not see the direct request"

listing "$WINEPREFIX/../after.txt"
diff -u "$WINEPREFIX/../before.txt" "$WINEPREFIX/../after.txt" >&2 ||
  fail "the prefix differs from before the installation"
echo "setup install: OK"
