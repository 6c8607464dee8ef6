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
  convert-im6.q16 -background white -density 96 "$dst/elefant256.svg" -resize 256x256 \
    -quality 90 "$dst/elefant256.jpg"
fi
