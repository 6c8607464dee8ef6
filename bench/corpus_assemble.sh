#!/bin/bash
# Lays out the benchmark corpus in DIR from installed Debian packages:
#   DIR/doc/   a few hundred pages of the Python library reference with the
#              style sheets and scripts they load (python3.11-doc)
#   DIR/img/   photos of mate-backgrounds and ukui-wallpapers up to 4 MB, and
#              a web-sized copy (1024 pixels wide, quality 85) of each
set -euo pipefail
DIR="$1"
PAGES="${NB_CORPUS_PAGES:-300}"
if [ -f "$DIR/.complete" ]; then
  exit 0
fi
rm -rf "$DIR"
mkdir -p "$DIR/doc/library" "$DIR/img"

HTML=/usr/share/doc/python3.11/html
ls "$HTML/library/"*.html | sort | sed -n "1,${PAGES}p" | while read -r f; do
  cp -L "$f" "$DIR/doc/library/"
done
cp -rL "$HTML/_static" "$DIR/doc/_static"

# Only the photos of those two packages: whatever else a machine holds under
# /usr/share/backgrounds would make its corpus differ from everyone else's.
photos=$(dpkg -L mate-backgrounds ukui-wallpapers | grep -i '\.jpg$' | sort)
n=0
for f in $(find $photos -maxdepth 0 -type f -size -4M | sort); do
  name="$(basename "$f" .jpg)"
  base="$(printf '%02d' $n)-$name"
  cp -L "$f" "$DIR/img/$base.jpg"
  convert "$f" -resize '1024x>' -quality 85 "$DIR/img/$base-web.jpg"
  n=$((n + 1))
done
chmod -R a+rX "$DIR"
touch "$DIR/.complete"
