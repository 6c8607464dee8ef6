#!/bin/bash
# Page load times on slow links, directly and through client and service:
# Chromium and NimbrelClient on a "user" network namespace, nginx with the
# corpus of bench_corpus.sh and NimbrelService on an "Internet" one, joined by
# a rate-limited veth pair with added round-trip time. Prints, per link
# profile, the median and p90 speed-up per page, the total speed-up and the
# bytes on the link. Asserts nothing.
#
#   bench/bench_slowlink.sh [BUILD_DIR]
#
# BUILD_DIR holds client/NimbrelClient and service/NimbrelService; without it
# a Release build is made in build-bench/. NB_SLOWLINK_REPS loads per page
# (default 3); NB_SLOWLINK_PROFILES picks profiles (mobile,dsl,unlimited);
# NB_SLOWLINK_ORIGINS picks how the site sends text: gzip (the default, gzip
# level 6 for the text types, as most sites do) and/or plain (uncompressed),
# e.g. NB_SLOWLINK_ORIGINS=gzip,plain. NB_SLOWLINK_CACHE picks the browser's
# cache: fresh (every page a first visit) and/or keep (each round browses the
# pages in order with the browser's own cache kept); both by default.
# The browser and client run on one core, the site and service on another
# (NB_SLOWLINK_PIN=0: all share every core); CPU per page load is printed.
# NB_SLOWLINK_SERVICE_ARGS adds flags to the service, e.g. "--caps 7" to
# measure without kept connections, or "--early-pages".
# Needs root.
set -euo pipefail

SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$SRC/build-bench}"
CORPUS="${NB_CORPUS:-/tmp/nb-corpus}"

"$SRC/bench/ensure_packages.sh" python3.11-doc mate-backgrounds nginx-light imagemagick chromium iproute2
if [ ! -d "$SRC/tests/e2e/node_modules/playwright-core" ]; then
  (cd "$SRC/tests/e2e" && npm ci --no-audit --no-fund >/dev/null)
fi

if [ $# -lt 1 ]; then
  cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DNIMBREL_E2E=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target NimbrelClient NimbrelService >/dev/null
fi
NB_CORPUS_PAGES="${NB_CORPUS_PAGES:-300}" "$SRC/bench/corpus_assemble.sh" "$CORPUS"

# Two namespaces and the link between them; removed again however we end.
USER_NS="nbsl-user-$$"
NET_NS="nbsl-net-$$"
USER_DEV="slu$$"
NET_DEV="sln$$"
cleanup() {
  ip netns del "$USER_NS" 2>/dev/null || true
  ip netns del "$NET_NS" 2>/dev/null || true
}
trap cleanup EXIT
ip netns add "$USER_NS"
ip netns add "$NET_NS"
ip link add "$USER_DEV" netns "$USER_NS" type veth peer name "$NET_DEV" netns "$NET_NS"
U() { ip netns exec "$USER_NS" "$@"; }
N() { ip netns exec "$NET_NS" "$@"; }
U ip link set lo up
N ip link set lo up
U ip addr add 192.0.2.1/24 dev "$USER_DEV"
N ip addr add 192.0.2.2/24 dev "$NET_DEV"
N ip addr add 198.51.100.10/24 dev lo
U ip link set "$USER_DEV" up
N ip link set "$NET_DEV" up
# The whole documentation network lies behind the far end: a /24 route, not a
# route to the site's own address.
U ip route add 198.51.100.0/24 via 192.0.2.2

profiles=()
if [ -n "${NB_SLOWLINK_PROFILES:-}" ]; then
  profiles=(--profiles "$NB_SLOWLINK_PROFILES")
fi
N python3 "$SRC/bench/slowlink_measure.py" --corpus "$CORPUS" \
  --client "$BUILD/client/NimbrelClient" --service "$BUILD/service/NimbrelService" \
  --source "$SRC" --user-ns "$USER_NS" --user-dev "$USER_DEV" --net-dev "$NET_DEV" \
  --reps "${NB_SLOWLINK_REPS:-3}" --origins "${NB_SLOWLINK_ORIGINS:-gzip}" \
  --cache "${NB_SLOWLINK_CACHE:-fresh,keep}" "${profiles[@]}"
