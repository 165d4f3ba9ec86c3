#!/usr/bin/env bash
# The panel host's HTTP API against a static file server, in one run on this
# machine: GET /api/wall (with a viewer token) and GET /healthz against nginx
# serving the very same bytes from files, both driven by wrk with the same
# connections in alternating rounds; the latency of one connection; and
# durable name writes per second on 4 connections (data file on disk).
# Starts a panelhost of BUILD_DIR (default build/default) and nginx, each on
# a free loopback port with a throwaway folder, and stops both at the end.
#   bench/http-versus-nginx.sh [BUILD_DIR]
# Environment: ROUNDS (3), SECONDS_PER_ROUND (5), CONNECTIONS (16), PARTS
# (any of "throughput latency writes"; all by default).
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
panelhost="$build/host/panelhost"
rounds=${ROUNDS:-3}
duration=${SECONDS_PER_ROUND:-5}
connections=${CONNECTIONS:-16}
parts=" ${PARTS:-throughput latency writes} "
# wrk's threads: one a processor, as many as the machine has.
threads=$(nproc)
for program in "$panelhost" /usr/sbin/nginx wrk curl node; do
    if ! command -v "$program" >/dev/null; then
        echo "error: $program not found (build panelhost; Debian packages nginx-light, wrk)" >&2
        exit 1
    fi
done

# On disk, not in memory: the writes are measured as durable as in a studio.
folder=$(mktemp -d "${TMPDIR:-/var/tmp}/panelhost-bench.XXXXXX")
host_pid=""
nginx_pid=""
stop() {
    [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$folder"
}
trap stop EXIT

free_port() {
    node -e "const s = require('net').createServer().listen(0, '127.0.0.1', () => {
        console.log(s.address().port); s.close(); });"
}

host_port=$(free_port)
"$panelhost" --data "$folder/data" --bind 127.0.0.1 --port "$host_port" --panels 1 \
    >"$folder/panelhost.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do
    curl -fs "http://127.0.0.1:$host_port/healthz" >/dev/null && break
    sleep 0.1
done
viewer=$("$panelhost" --data "$folder/data" token create --role viewer --name bench-viewer 2>/dev/null)
engineer=$("$panelhost" --data "$folder/data" token create --role engineer --name bench-writer \
    2>/dev/null)
# The host checks tokens in memory once its table has read them.
sleep 1

# The same bytes for nginx, from files.
mkdir -p "$folder/www/api"
curl -fs -H "Authorization: Bearer $viewer" "http://127.0.0.1:$host_port/api/wall" \
    >"$folder/www/api/wall"
curl -fs "http://127.0.0.1:$host_port/healthz" >"$folder/www/healthz"
chmod -R a+rX "$folder"
nginx_port=$(free_port)
cat >"$folder/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $folder/nginx.pid;
error_log $folder/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $folder/nginx-body;
    proxy_temp_path $folder/nginx-proxy;
    fastcgi_temp_path $folder/nginx-fastcgi;
    uwsgi_temp_path $folder/nginx-uwsgi;
    scgi_temp_path $folder/nginx-scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $folder/www;
        default_type application/json;
    }
}
CONF
/usr/sbin/nginx -c "$folder/nginx.conf" -p "$folder" 2>"$folder/nginx-start.log" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -fs "http://127.0.0.1:$nginx_port/healthz" >/dev/null && break
    sleep 0.1
done
cmp -s <(curl -fs "http://127.0.0.1:$nginx_port/api/wall") "$folder/www/api/wall" ||
    { echo "error: nginx does not serve the wall's bytes" >&2; exit 1; }

# Requests per second of one wrk round.
rate() {
    wrk -t"$threads" -c"$connections" -d"${duration}s" "$@" | awk '/^Requests\/sec/ { print $2 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

if [[ "$parts" == *" throughput "* ]]; then
echo "== the host against nginx: $connections connections, $threads wrk threads," \
    "$rounds alternating rounds of ${duration} s"
echo "wall: $(wc -c <"$folder/www/api/wall") bytes"
for route in /api/wall /healthz; do
    auth=()
    [ "$route" = /api/wall ] && auth=(-H "Authorization: Bearer $viewer")
    : >"$folder/ratios"
    for round in $(seq "$rounds"); do
        host_rate=$(rate "${auth[@]}" "http://127.0.0.1:$host_port$route")
        nginx_rate=$(rate "http://127.0.0.1:$nginx_port$route")
        ratio=$(awk -v h="$host_rate" -v n="$nginx_rate" 'BEGIN { printf "%.2f", h / n }')
        echo "$ratio" >>"$folder/ratios"
        printf '%-10s round %d: panelhost %10.0f/s  nginx %10.0f/s  ratio %s\n' \
            "$route" "$round" "$host_rate" "$nginx_rate" "$ratio"
    done
    echo "$route median ratio: $(median <"$folder/ratios")"
done
fi

if [[ "$parts" == *" latency "* ]]; then
echo
echo "== one connection, GET /api/wall ($rounds rounds of ${duration} s)"
for round in $(seq "$rounds"); do
    for side in panelhost nginx; do
        if [ "$side" = panelhost ]; then
            target=(-H "Authorization: Bearer $viewer" "http://127.0.0.1:$host_port/api/wall")
        else
            target=("http://127.0.0.1:$nginx_port/api/wall")
        fi
        wrk -t1 -c1 -d"${duration}s" --latency "${target[@]}" |
            awk -v side="$side" -v round="$round" \
                '/^ +50%/ { p50 = $2 } /^ +99%/ { p99 = $2 } /^Requests\/sec/ { r = $2 }
                 END { printf "round %d %-9s p50 %8s  p99 %8s  %8.0f/s\n", round, side, p50, p99, r }'
    done
done
fi

if [[ "$parts" == *" writes "* ]]; then
echo
echo "== durable name writes: 4 connections, ${duration} s a round"
for round in $(seq "$rounds"); do
    PANELHOST_TOKEN=$engineer wrk -t2 -c4 -d"${duration}s" --latency \
        -s "$root/bench/put-names.lua" "http://127.0.0.1:$host_port" |
        awk -v round="$round" '/^ +50%/ { p50 = $2 } /^ +99%/ { p99 = $2 }
            /^Requests\/sec/ { r = $2 } /Non-2xx/ { bad = $NF }
            END { printf "round %d: %6.0f writes/s  p50 %8s  p99 %8s  refused %d\n",
                  round, r, p50, p99, bad }'
done
fi
