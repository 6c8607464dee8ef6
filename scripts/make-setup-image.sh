#!/usr/bin/env bash
# Rebuilds the installer window's picture (a 24-bit BMP, which a dialog shows
# without any decoder) from the logo in share/. Its output is committed, so
# the build needs no image tools.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
convert-im6.q16 "$here/share/elefant256.jpg" -resize 104x104 -type TrueColor \
  "BMP3:$here/nbClientSetup/src/win32/image1.bmp"
