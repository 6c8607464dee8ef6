#!/usr/bin/env bash
# Builds the linux preset and runs the whole road on this machine: the
# companion compression service on 127.0.0.1:443 with a guest account, and
# the client (proxy on port 4321, settings console on http://localhost:3344/)
# installed with its data files into build/run/. Point a browser's HTTP proxy
# at localhost:4321. Ctrl+C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --run
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target NimbrelClient NimbrelService

run=build/run
mkdir -p "$run"
cp build/linux/client/NimbrelClient "$run/"
cp -r share "$run/"
[ -f "$run/NimbrelClient.ini" ] || cp share/NimbrelClient.ini "$run/"

# The service listens on loopback only, so it may also fetch from sites on
# this machine and its local network, and serve guests (login 0).
build/linux/service/NimbrelService --listen 127.0.0.1 --port 443 --allow-private --guest \
  --db "$run/service.db" --log "$run/service.log" &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT
sleep 0.5
echo "Service log: $run/service.log; URL log: $run/nimbrel.log"
echo "Browser proxy: localhost:4321    Settings: http://localhost:3344/"
"$run/NimbrelClient"
