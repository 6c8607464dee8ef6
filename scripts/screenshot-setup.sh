#!/usr/bin/env bash
# Screenshots of the installer and the uninstall script under Xvfb, in a Wine
# prefix of its own whose ANSI code page is 1252 (not Russian), installing
# into a Cyrillic folder with spaces. Writes, trimmed to what is on screen:
#   setup-window.png     the installer window as it opens
#   setup-question.png   the browser question
#   setup-done.png       the window after the installation ("OK", no "Отмена")
#   uninstall-ask.png    the uninstall script's question
#   uninstall-done.png   its closing message
# Usage: scripts/screenshot-setup.sh [output folder] [build folder]
# (defaults: build/shots, build/windows). As root it runs in a network
# namespace of its own. Needs xdotool and ImageMagick.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath -m "${1:-$here/build/shots}")"
build="$(cd "${2:-$here/build/windows}" && pwd)"
exe="$build/nbClientSetup/NimbrelSetup.exe"
[ -f "$exe" ] || { echo "screenshot: $exe not built" >&2; exit 2; }
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64

if [ "${NB_SHOT_STAGE:-}" = "" ] && [ "$(id -u)" = 0 ]; then
  exec env NB_SHOT_STAGE=ns unshare -n "$0" "$out" "$build"
fi

if [ "${NB_SHOT_STAGE:-}" != x ]; then
  work="$(mktemp -d)"
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all LC_ALL=C.UTF-8 \
    WINEDLLOVERRIDES="winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  trap '"$server" -k </dev/null >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  [ "$(id -u)" = 0 ] && ip link set lo up 2>/dev/null || true
  WINEDLLOVERRIDES="mscoree,mshtml=;$WINEDLLOVERRIDES" "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  # Xvfb has no window manager: let Wine draw the title bar itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
  NB_SHOT_STAGE=x xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out" "$build"
  exit $?
fi

mkdir -p "$out"
# Waits (up to ~30 s) for a top-level window whose title matches $1.
await() {
  for _ in $(seq 1 60); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && { sleep 1; return 0; }
    sleep 0.5
  done
  echo "screenshot: no window \"$1\"" >&2
  return 1
}
shot() {
  import -window root "$out/$1.full.png"
  convert "$out/$1.full.png" -trim +repage "$out/$1.png"
  rm -f "$out/$1.full.png"
  echo "screenshot: $out/$1.png"
}
# Types into the window that has the keyboard focus.
keys() { xdotool key --delay 100 "$@"; }

"$wine" "$exe" </dev/null >/dev/null 2>&1 &
await 'ускорителя - Nimbrel'
shot setup-window
# The folder field: a Cyrillic folder with spaces.
win="$(xdotool search --onlyvisible --name 'ускорителя - Nimbrel' | head -1)"
xdotool windowfocus --sync "$win" 2>/dev/null || true
keys shift+Tab shift+Tab ctrl+a
xdotool type --delay 50 'C:\Program Files\Сжатие Nimbrel'
keys Tab Tab Return   # ">>" skipped; "Установить"
await '^Nimbrel Client$'
shot setup-question
keys Return           # "Да"
sleep 3
shot setup-done
keys Return           # "OK" ends the installer
sleep 2

"$wine" wscript 'C:\windows\NimbrelUninstall.vbs' </dev/null >/dev/null 2>&1 &
await 'Подтверждение'
shot uninstall-ask
keys y
await '^Nimbrel$'
shot uninstall-done
keys Return
sleep 1
"$server" -k </dev/null >/dev/null 2>&1 || true
