#!/bin/bash
# Throughput and latency of the client's direct road against the web server
# itself and against tinyproxy, all on loopback inside a private network
# namespace. Prints medians of three runs and the ratios; no pass/fail.
#
#   bench/bench_proxy.sh [path/to/NimbrelClient]
#
# Without an argument a Release build is made in build-bench/. Needs root
# (unshare), nginx-light, tinyproxy, wrk and curl.
set -euo pipefail

SRC="$(cd "$(dirname "$0")/.." && pwd)"
if [[ "${NB_BENCH_IN_NS:-}" != "1" ]]; then
  CLIENT="${1:-}"
  if [[ -z "$CLIENT" ]]; then
    cmake -S "$SRC" -B "$SRC/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$SRC/build-bench" -j2 --target NimbrelClient >/dev/null
    CLIENT="$SRC/build-bench/client/NimbrelClient"
  fi
  CLIENT="$(readlink -f "$CLIENT")"
  exec env NB_BENCH_IN_NS=1 unshare --net --mount --propagation private "$0" "$CLIENT"
fi

CLIENT="$1"
RUNS=3
DURATION="${NB_BENCH_SECONDS:-4}"
SITE=127.0.0.2
WORK="$(mktemp -d /tmp/nb-bench-XXXXXX)"
chmod 755 "$WORK"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

ip link set lo up
# One request per connection leaves many sockets in TIME_WAIT.
sysctl -qw net.ipv4.ip_local_port_range="1024 65535"
sysctl -qw net.ipv4.tcp_tw_reuse=1

# --- web server ---------------------------------------------------------------
mkdir -p "$WORK/www"
head -c 10240 /dev/urandom | base64 -w 100 | head -c 10240 >"$WORK/www/10k.html"
head -c $((100 * 1024 * 1024)) /dev/zero >"$WORK/www/100m.bin"
cat >"$WORK/nginx.conf" <<EOF
worker_processes 1;
daemon off;
user root;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path $WORK/body;
  proxy_temp_path $WORK/proxy;
  fastcgi_temp_path $WORK/fastcgi;
  uwsgi_temp_path $WORK/uwsgi;
  scgi_temp_path $WORK/scgi;
  server { listen $SITE:80 backlog=4096; root $WORK/www; }
}
EOF
nginx -c "$WORK/nginx.conf" -p "$WORK" &
PIDS+=($!)

# --- tinyproxy ------------------------------------------------------------------
cat >"$WORK/tinyproxy.conf" <<EOF
Port 8888
Listen 127.0.0.1
Timeout 600
MaxClients 200
Allow 127.0.0.1
LogLevel Critical
LogFile "$WORK/tinyproxy.log"
PidFile "$WORK/tinyproxy.pid"
DisableViaHeader Yes
EOF
tinyproxy -d -c "$WORK/tinyproxy.conf" >/dev/null 2>&1 &
PIDS+=($!)

# --- our client (direct road: compression off, no upstream proxy) -------------
mkdir -p "$WORK/client"
cp "$CLIENT" "$WORK/client/"
printf 'Port:4321\r\nSettingsPort:3344\r\nCompressOff:1\r\nBlockingBanners:0\r\n' \
  >"$WORK/client/NimbrelClient.ini"
(cd "$WORK/client" && exec "./$(basename "$CLIENT")" >/dev/null 2>&1) &
PIDS+=($!)

wait_port() {
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "port $1:$2 did not open" >&2
  exit 1
}
wait_port $SITE 80
wait_port 127.0.0.1 8888
wait_port 127.0.0.1 4321

# --- measurements ---------------------------------------------------------------
cat >"$WORK/close.lua" <<'EOF'
-- One request per connection, to the path (absolute URL for proxies) in NB_PATH.
wrk.path = os.getenv("NB_PATH")
wrk.headers["Host"] = "127.0.0.2"
wrk.headers["Connection"] = "close"
EOF

# requests per second for the 10 KB page with 20 concurrent clients
rps() {  # $1 = connect target (host:port), $2 = request path
  NB_PATH="$2" wrk -t2 -c20 -d"${DURATION}s" -s "$WORK/close.lua" "http://$1" 2>&1 |
    awk '/Requests\/sec/ {print $2}'
}

# MB/s of one 100 MB download
mbps() {  # $1 = proxy option for curl ("" for direct)
  curl -s -o /dev/null $1 -w '%{speed_download}' "http://$SITE/100m.bin" |
    awk '{printf "%.1f", $1 / 1048576}'
}

# median milliseconds of 300 sequential requests of the 10 KB page
latency() {  # $1 = connect port (80 direct), $2 = request path
  python3 - "$1" "$2" <<'EOF'
import socket, statistics, sys, time
port, path = int(sys.argv[1]), sys.argv[2]
host = "127.0.0.2" if port == 80 else "127.0.0.1"
req = ("GET %s HTTP/1.1\r\nHost: 127.0.0.2\r\nConnection: close\r\n\r\n" % path).encode()
times = []
for _ in range(300):
    t = time.perf_counter()
    s = socket.create_connection((host, port))
    s.sendall(req)
    while s.recv(65536):
        pass
    s.close()
    times.append(time.perf_counter() - t)
print("%.3f" % (statistics.median(times) * 1000))
EOF
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

declare -A R
for target in direct client tinyproxy; do
  case $target in
    direct) conn=$SITE:80; path=/10k.html; proxy=""; port=80 ;;
    client) conn=127.0.0.1:4321; path=http://$SITE/10k.html; proxy="--proxy 127.0.0.1:4321"; port=4321 ;;
    tinyproxy) conn=127.0.0.1:8888; path=http://$SITE/10k.html; proxy="--proxy 127.0.0.1:8888"; port=8888 ;;
  esac
  r=() m=() l=()
  for _ in $(seq $RUNS); do
    r+=("$(rps "$conn" "$path")")
    m+=("$(mbps "$proxy")")
    l+=("$(latency "$port" "$path")")
    sleep 1
  done
  R[$target.rps]=$(median "${r[@]}")
  R[$target.mbps]=$(median "${m[@]}")
  R[$target.lat]=$(median "${l[@]}")
  echo "$target: req/s ${r[*]}  MB/s ${m[*]}  ms ${l[*]}" >&2
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
added() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a - b }'; }

printf '\n%-10s %12s %10s %12s\n' "road" "10KB req/s" "100MB MB/s" "latency ms"
for target in direct client tinyproxy; do
  printf '%-10s %12s %10s %12s\n' "$target" "${R[$target.rps]}" "${R[$target.mbps]}" "${R[$target.lat]}"
done
echo
echo "client/direct     req/s $(ratio "${R[client.rps]}" "${R[direct.rps]}")  MB/s $(ratio "${R[client.mbps]}" "${R[direct.mbps]}")"
echo "client/tinyproxy  req/s $(ratio "${R[client.rps]}" "${R[tinyproxy.rps]}")  MB/s $(ratio "${R[client.mbps]}" "${R[tinyproxy.mbps]}")"
echo "tinyproxy/direct  req/s $(ratio "${R[tinyproxy.rps]}" "${R[direct.rps]}")  MB/s $(ratio "${R[tinyproxy.mbps]}" "${R[direct.mbps]}")"
echo "added latency of one request: client $(added "${R[client.lat]}" "${R[direct.lat]}") ms," \
  "tinyproxy $(added "${R[tinyproxy.lat]}" "${R[direct.lat]}") ms"
