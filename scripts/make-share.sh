#!/usr/bin/env bash
# Rebuilds the Windows-1251 text files of share/ from their UTF-8 sources in
# scripts/share-src/ (CR LF line ends) and the logo from its SVG drawing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$here/share-src
dst=$here/../share
for f in ClientHtmlGUI.htm NimbrelClientHelp.txt NimbrelClientHelp.htm NimbrelLicense.txt change.log; do
  sed 's/\r$//; s/$/\r/' "$src/$f" | iconv -f UTF-8 -t CP1251 > "$dst/$f"
done
if [ "${1:-}" = "--logo" ]; then
  # Chromium draws the SVG with smooth edges; ImageMagick makes the JPEG.
  tmp=$(mktemp -d)
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=256,256 \
    --user-data-dir="$tmp/profile" --screenshot="$tmp/logo.png" \
    "file://$(cd "$dst" && pwd)/elefant256.svg" >/dev/null 2>&1
  convert-im6.q16 "$tmp/logo.png" -background white -flatten -quality 90 "$dst/elefant256.jpg"
  rm -rf "$tmp"
fi
