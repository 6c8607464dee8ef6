#!/usr/bin/env bash
# Screenshots of the Windows client under Wine in a virtual display: one with
# the tray menu open (and the start balloon), one with the icon's statistics
# tip, and two once the compression service could not be reached (the
# offline icon with its balloon, then its tip). The client runs in Wine's virtual desktop, whose notification area
# shows as a small window at the top left, with statistics and a few options
# set; a helper opens the menu as a right click on the icon would. Needs root
# (the client's ports live in a network namespace of their own) and the
# windows build (client and the tests' helper tray_menu_open.exe).
# Usage: scripts/screenshot-tray.sh [windows build folder] [output.png]
#   (defaults: build/windows and build/tray-menu.png)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$here/build/windows}" && pwd)"
out="$(realpath -m "${2:-$here/build/tray-menu.png}")"
exe="$build/client/NimbrelClient.exe"
helper="$build/tests/unit/tray/win32/tray_menu_open.exe"
for f in "$exe" "$helper"; do
  [ -f "$f" ] || { echo "screenshot: $f not built" >&2; exit 2; }
done

if [ "${NB_SHOT_IN_NS:-}" != 1 ]; then
  exec env NB_SHOT_IN_NS=1 unshare -n xvfb-run -a -s "-screen 0 800x600x24" "$0" "$build" "$out"
fi

work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
trap '"$server" -k </dev/null >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
ip link set lo up
ip addr add 127.0.0.2/8 dev lo 2>/dev/null || true

mkdir -p "$work/app"
cp "$exe" "$work/app/"
cp -r "$here/share" "$work/app/share"
# Some traffic saved, banners blocked, medium image quality.
sed -e 's/^BlockingFlash:1/BlockingFlash:0/' -e 's/^TotalTraffic:0/TotalTraffic:52428800/' \
  -e 's/^CompressTraffic:0/CompressTraffic:15728640/' "$here/share/NimbrelClient.ini" \
  > "$work/app/NimbrelClient.ini"

"$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
# Every program of the prefix shares one virtual desktop, so the helper sees
# the client's window.
"$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f \
  </dev/null >/dev/null 2>&1
(cd "$work/app" && exec "$wine" NimbrelClient.exe </dev/null >/dev/null 2>&1) &
for _ in $(seq 1 120); do
  ss -ltn | grep -q ':4321 ' && break
  sleep 0.5
done
sleep 3
"$wine" "$helper" 330 260 </dev/null >/dev/null 2>&1 || { echo "screenshot: no tray window" >&2; exit 1; }
sleep 2
mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "screenshot: $out"
# A second picture with the icon's statistics tip, once the start balloon is
# gone: the menu is closed and the cursor rests on the icon (top left, where
# Wine shows its notification area when no taskbar does).
tip="${out%.png}-tip.png"
sleep 9
"$wine" "$helper" hover 12 32 </dev/null >/dev/null 2>&1 || true
sleep 3
import -window root "$tip"
echo "screenshot: $tip"
# No service listens in this namespace: a page of a site that is not local
# makes the client try it, fail, and show the offline icon and balloon.
offline="${out%.png}-offline.png"
curl -s -m 20 -o /dev/null -x 127.0.0.1:4321 http://127.0.0.2:8080/ || true
sleep 3
import -window root "$offline"
echo "screenshot: $offline"
sleep 9
"$wine" "$helper" hover 12 32 </dev/null >/dev/null 2>&1 || true
sleep 3
import -window root "${offline%.png}-tip.png"
echo "screenshot: ${offline%.png}-tip.png"
