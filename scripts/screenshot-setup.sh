#!/usr/bin/env bash
# Takes a screenshot of the installer window under Xvfb, in a Wine prefix of
# its own, and writes it as a PNG trimmed to the window. Usage:
#   scripts/screenshot-setup.sh [out.png] [build folder]
# (defaults: build/setup-window.png, build/windows). As root it runs in a
# network namespace of its own.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath -m "${1:-$here/build/setup-window.png}")"
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
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all
  unset DISPLAY WAYLAND_DISPLAY
  trap '"$server" -k </dev/null >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  # Xvfb has no window manager: let Wine draw the title bar itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
  NB_SHOT_STAGE=x xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out" "$build"
  exit $?
fi

"$wine" "$exe" </dev/null >/dev/null 2>&1 &
sleep "${NB_SHOT_WAIT:-10}"
mkdir -p "$(dirname "$out")"
import -window root "$out.full.png"
convert "$out.full.png" -trim +repage "$out"
rm -f "$out.full.png"
"$server" -k </dev/null >/dev/null 2>&1 || true
echo "screenshot: $out"
