#!/bin/bash
# Traffic, image quality and throughput of the compressed road on a corpus
# taken from Debian packages (documentation pages and photos nobody here
# wrote). Prints figures; asserts nothing.
#
#   bench/bench_corpus.sh [BUILD_DIR]
#
# BUILD_DIR holds client/NimbrelClient and service/NimbrelService; without
# it a Release build is made in build-bench/. NB_BASELINE_SERVICE may name an
# older NimbrelService to compare the time to the first packet with. Needs
# root (packages, network namespace).
set -euo pipefail

SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$SRC/build-bench}"
CORPUS="${NB_CORPUS:-/tmp/nb-corpus}"

# The corpus and the measuring tools: documentation pages, photos, and
# numpy for the SSIM figure.
"$SRC/bench/ensure_packages.sh" python3.11-doc mate-backgrounds ukui-wallpapers python3-numpy nginx-light imagemagick

if [ $# -lt 1 ]; then
  cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DNIMBREL_E2E=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target NimbrelClient NimbrelService >/dev/null
fi

"$SRC/bench/corpus_assemble.sh" "$CORPUS"
# The distribution's interpreter: numpy comes from its package.
exec /usr/bin/python3 "$SRC/bench/corpus_measure.py" --corpus "$CORPUS" \
  --client "$BUILD/client/NimbrelClient" --service "$BUILD/service/NimbrelService" \
  --source "$SRC" --baseline-service "${NB_BASELINE_SERVICE:-}"
