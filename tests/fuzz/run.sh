#!/usr/bin/env bash
# Runs every fuzz target on a scratch copy of its corpus and prints one line
# per target: executions, coverage, crashes. Exit status 1 when any target
# crashed (the crashing input is kept under the scratch folder and named).
#   run.sh BUILD_DIR runs N       each target for N executions (60 s at most)
#   run.sh BUILD_DIR seconds S    each target for S seconds
set -uo pipefail
if [ $# -ne 3 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR runs|seconds N" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
amount=$3
here=$(cd "$(dirname "$0")" && pwd)
case "$2" in
  runs) limit=(-runs="$amount" -max_total_time=60) ;;
  seconds) limit=(-max_total_time="$amount") ;;
  *) echo "usage: $0 BUILD_DIR runs|seconds N" >&2; exit 2 ;;
esac
# One run of these costs a connection, two threads and a bzip2 round trip:
# in runs mode they get a tenth of the runs.
slow=" service_answer "
scratch=$(mktemp -d /tmp/nbfuzz-XXXXXX)
failed=0
printf '%-18s %10s %8s %8s %8s\n' target execs cov features crashes
for corpus in "$here"/corpus/*/; do
  name=$(basename "$corpus")
  bin="$build/tests/fuzz/fuzz_$name"
  if [ ! -x "$bin" ]; then
    echo "$name: $bin not built" >&2
    failed=1
    continue
  fi
  run_limit=("${limit[@]}")
  if [ "$2" = runs ] && [[ "$slow" == *" $name "* ]]; then
    run_limit=(-runs=$((amount / 10)) -max_total_time=60)
  fi
  work="$scratch/$name"
  mkdir -p "$work/corpus" "$work/crashes"
  log="$work/log"
  # New inputs go to the scratch corpus; the seeds are only read. Targets
  # that save files save them into the scratch folder.
  (cd "$work" && "$bin" "${run_limit[@]}" -max_len=65536 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" "$corpus" >"$log" 2>&1)
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  crashes=$(find "$work/crashes" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  printf '%-18s %10s %8s %8s %8s\n' "$name" "${execs:-0}" "${cov:-?}" "${ft:-?}" "$crashes"
  if [ "$crashes" -ne 0 ]; then
    failed=1
    echo "  crash: see $log and $work/crashes/" >&2
  fi
done
[ "$failed" -eq 0 ] && rm -rf "$scratch"
exit "$failed"
