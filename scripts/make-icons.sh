#!/usr/bin/env bash
# Turns the icons' SVG sources in client/resources/icons/ into .ico files with
# 16, 32 and 48 pixel images, next to their sources. The .ico files are
# committed, so building needs no image tools; run this after changing an SVG.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert.
set -euo pipefail
dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/client/resources/icons"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for svg in "$dir"/*.svg; do
  name="$(basename "$svg" .svg)"
  pngs=()
  for size in 16 32 48; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$tmp/$name-$size.png"
    pngs+=("$tmp/$name-$size.png")
  done
  # Images stored as bitmaps with an alpha channel, which every Windows
  # version reads (PNG inside .ico only from Vista on).
  convert "${pngs[@]}" "$dir/$name.ico"
  echo "$dir/$name.ico"
done
