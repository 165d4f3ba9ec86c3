#!/usr/bin/env bash
# Runs the browser tests of the panel host's web front end in Debian's
# Chromium: installs playwright-core from the lock file (it never downloads
# a browser) and the chromium package when missing, starts the panelhost of
# BUILD_DIR on a free loopback port with two panel instances, a temporary
# data folder with an account of each role and an admin token, and its
# display output on, and a second one over HTTPS with a certificate made
# for the run, and a third one on an empty data folder, whose first start
# prints a one-time login link; runs tests/web/*.test.js with node's test runner
# one file at a time (they share the host), and stops the hosts. Screenshots
# of the panels and the displays go to build/web-screenshots/.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir in which panelhost and its plugin are built)" >&2
    exit 2
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=$(cd "$1" && pwd)
host="$build_dir/host/panelhost"
if [ ! -x "$host" ]; then
    echo "error: $host not found; build the targets panelhost and nameset_editor first" >&2
    exit 1
fi

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages chromium openssl

cd "$root/tests/web"
npm ci --no-audit --no-fund --loglevel=error

# How long the host may take to print its address.
start_timeout_tenths=300

scratch=$(mktemp -d)
host_pids=()
stop_hosts() {
    for pid in "${host_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap stop_hosts EXIT

# The accounts the tests log in as, one per role, and the admin token their
# API calls use: made in the data folder before the host starts, as a
# studio would set it up.
password="browser-tests-$RANDOM$RANDOM"
make_accounts() {
    local data=$1
    local role
    declare -A accounts=([viewer]=vera [operator]=otto [engineer]=erin [admin]=ada)
    for role in "${!accounts[@]}"; do
        printf '%s\n' "$password" |
            "$host" user add "${accounts[$role]}" --role "$role" --data "$data" >/dev/null
    done
}

# Starts a panelhost with DATA and further arguments; sets `url` to where it
# serves.
start_host() {
    local name=$1
    shift
    "$host" --port 0 --layouts "$root/layouts" --web "$root/host/web" "$@" \
        >"$scratch/$name.out" 2>"$scratch/$name.err" &
    local pid=$!
    host_pids+=("$pid")
    url=""
    for _ in $(seq "$start_timeout_tenths"); do
        url=$(grep -o 'https\{0,1\}://[^ ]*' "$scratch/$name.out" | head -n 1 || true)
        if [ -n "$url" ] || ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    if [ -z "$url" ]; then
        echo "error: panelhost ($name) did not start:" >&2
        cat "$scratch/$name.err" >&2
        exit 1
    fi
}

make_accounts "$scratch/data"
token=$("$host" token create --role admin --name tests --data "$scratch/data" 2>/dev/null)

# The display output goes to loopback ports nobody needs to read, one TSL
# 5.0 and one TSL 3.1 receiver, and one 5.0 receiver of displays that
# follow router destinations: the page shows what was sent, whoever
# listens.
tsl_port=$((20000 + RANDOM % 20000))
start_host main --data "$scratch/data" --panels 2 --tsl "udp:127.0.0.1:$tsl_port" \
    --tsl "udp31:127.0.0.1:$((tsl_port + 1))" \
    --tsl "udp:127.0.0.1:$((tsl_port + 2)),follow=router,sources=1-8"
main_url=$url
echo "== panelhost on $main_url (data in $scratch/data)"

# A second host serving HTTPS with a certificate made for this run.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$scratch/tls.key" -out "$scratch/tls.crt" 2>/dev/null
# The host refuses a key that anyone but its owner may read.
chmod 600 "$scratch/tls.key"
make_accounts "$scratch/tls-data"
start_host tls --data "$scratch/tls-data" --tls-cert "$scratch/tls.crt" --tls-key "$scratch/tls.key"
tls_url=$url
echo "== panelhost on $tls_url"

# A host on its first start: no account yet, so it makes "admin" without a
# password and prints the one-time link that logs it in.
start_host first --data "$scratch/first-data"
first_url=$url
first_link=""
for _ in $(seq "$start_timeout_tenths"); do
    first_link=$(grep -o 'https\{0,1\}://[^ ]*/login?once=[^ ]*' "$scratch/first.out" || true)
    if [ -n "$first_link" ]; then
        break
    fi
    sleep 0.1
done
if [ -z "$first_link" ]; then
    echo "error: panelhost (first start) printed no one-time login link:" >&2
    cat "$scratch/first.out" "$scratch/first.err" >&2
    exit 1
fi
echo "== panelhost on $first_url (first start)"

status=0
PANELHOST_URL="$main_url" PANELHOST_TLS_URL="$tls_url" PANELHOST_TOKEN="$token" \
    PANELHOST_FIRST_URL="$first_url" PANELHOST_FIRST_LINK="$first_link" \
    PANELHOST_FIRST_CONSOLE="$scratch/first.err" \
    PANELHOST_PASSWORD="$password" SCREENSHOT_DIR="$root/build/web-screenshots" \
    node --test --test-concurrency=1 ./*.test.js || status=$?
if [ "$status" -ne 0 ]; then
    echo "== the host's log (last 40 lines)"
    tail -n 40 "$scratch/main.err"
fi
exit "$status"
