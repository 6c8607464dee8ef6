#!/bin/bash
# Fuzzes every input surface for a given time per target and prints, per
# target, executions, coverage (edges, features) and crashes. A crash leaves
# its input in the scratch folder named on stderr: add it to the target's
# corpus as a regress-* file once fixed.
#
#   bench/bench_fuzz.sh [seconds per target, default 60]
#
# Builds the linux-fuzz preset (clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) first.
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_EACH="${1:-60}"
cd "$SRC"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j2 --target fuzz_all >/dev/null
echo "fuzzing ${SECONDS_EACH} s per target"
exec tests/fuzz/run.sh build/linux-fuzz seconds "$SECONDS_EACH"
