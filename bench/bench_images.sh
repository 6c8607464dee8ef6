#!/bin/bash
# Bytes and SSIM of the service's image roads (today's JPEG road against
# WebP and AVIF) per content type and quality code, on a corpus made from Debian
# packages: web-sized photos as JPEG, photos as PNG (opaque and with a
# transparent border), drawings of valgrind's documentation, icons of
# adwaita-icon-theme, and 256-colour GIFs. Prints figures; asserts nothing.
#
#   bench/bench_images.sh [BUILD_DIR]      (default build/linux)
#   NB_SWEEP=1 bench/bench_images.sh       also the SSIM per WebP quality
#                                          and AVIF quantizer per content type
#   NB_COST=1 bench/bench_images.sh        also bytes, SSIM and encode ms per
#                                          photo for each AV1 encoder and speed
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$SRC/build/linux}"
DIR="${NB_IMAGE_CORPUS:-/tmp/nb-image-corpus}"
"$SRC/bench/ensure_packages.sh" mate-backgrounds ukui-wallpapers valgrind adwaita-icon-theme \
  libxslt1-dev imagemagick
cmake --build "$BUILD" -j2 --target image_bench >/dev/null

if [ ! -f "$DIR/.complete" ]; then
  rm -rf "$DIR"
  mkdir -p "$DIR"
  n=0
  for f in $(dpkg -L mate-backgrounds ukui-wallpapers | grep -i '\.jpg$' | sort); do
    [ -f "$f" ] || continue
    b="$DIR/$(printf '%02d' $n)"
    convert "$f" -resize '1024x>' -quality 85 "$b-web.jpg"
    convert "$f" -resize '480x>' "$b-photo.png"
    convert "$f" -resize '256x>' -alpha set -background none -vignette 0x8 "$b-alpha.png"
    convert "$f" -resize '320x>' -colors 256 "$b-small.gif"
    n=$((n + 1))
  done
  for f in $(dpkg -L valgrind | grep '\.png$' | sort) \
    $(dpkg -L adwaita-icon-theme | grep '/256x256/.*\.png$' | sort | head -20) \
    $(dpkg -L libxslt1-dev | grep '\.gif$' | sort); do
    [ -f "$f" ] && cp -L "$f" "$DIR/doc-$(basename "$(dirname "$f")")-$(basename "$f")"
  done
  touch "$DIR/.complete"
fi

echo "corpus: $DIR ($(ls "$DIR" | wc -l) files); bytes are image bodies on the link"
"$BUILD/bench/image_bench" "$DIR"/*.jpg "$DIR"/*.png "$DIR"/*.gif
if [ "${NB_SWEEP:-0}" = 1 ]; then
  "$BUILD/bench/image_bench" --sweep "$DIR"/*.jpg "$DIR"/*.png "$DIR"/*.gif
fi
if [ "${NB_COST:-0}" = 1 ]; then
  "$BUILD/bench/image_bench" --cost "$DIR"/*.jpg
fi
