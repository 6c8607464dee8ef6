#!/bin/bash
# Bytes and CPU per page of the text coders on web text (the Python library
# reference's pages, style sheets and scripts): gzip-6 as the origin sends
# it, bzip2 as kind 2 sends it, brotli and zstd, and zstd against the
# previous page of the same documentation set. Prints a table; then, for the
# reference pages the slow-link bench browses (in its order), the bytes of
# pages cut into packet pieces, coded alone or chained.
#
#   bench/bench_text_codec.sh [BUILD_DIR] [PAGES]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$SRC/build-bench}"
PAGES="${2:-120}"
"$SRC/bench/ensure_packages.sh" python3.11-doc libbrotli-dev zlib1g-dev libzstd-dev
if [ ! -x "$BUILD/bench/text_codec_bench" ]; then
  cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DNIMBREL_E2E=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target text_codec_bench >/dev/null
fi
HTML=/usr/share/doc/python3.11/html
pages="$(mktemp -d)"
trap 'rm -rf "$pages"' EXIT
ls "$HTML/library/"*.html | sort | head -n "$PAGES" | xargs -I{} cp -L {} "$pages/"
"$BUILD/bench/text_codec_bench" "$pages" "$HTML/_static"
for p in functions stdtypes os re json datetime itertools string; do
  echo "$HTML/library/$p.html"
done | xargs "$BUILD/bench/text_codec_bench" --pieces
