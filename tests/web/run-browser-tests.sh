#!/usr/bin/env bash
# Runs the browser tests of the panel host's web front end in Debian's
# Chromium: installs playwright-core from the lock file (it never downloads
# a browser) and the chromium package when missing, starts the panelhost of
# BUILD_DIR on a free loopback port with two panel instances and a
# temporary data folder and its display output on, runs tests/web/*.test.js with node's test runner
# one file at a time (they share the host), and stops the host. Screenshots
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
tovi_install_packages chromium

cd "$root/tests/web"
npm ci --no-audit --no-fund --loglevel=error

# How long the host may take to print its address.
start_timeout_tenths=300

scratch=$(mktemp -d)
host_pid=""
stop_host() {
    if [ -n "$host_pid" ]; then
        kill "$host_pid" 2>/dev/null || true
        wait "$host_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap stop_host EXIT

# The display output goes to loopback ports nobody needs to read, one TSL
# 5.0 and one TSL 3.1 receiver, and one 5.0 receiver of displays that
# follow router destinations: the page shows what was sent, whoever
# listens.
tsl_port=$((20000 + RANDOM % 20000))
"$host" --data "$scratch/data" --port 0 --panels 2 --layouts "$root/layouts" \
    --web "$root/host/web" --tsl "udp:127.0.0.1:$tsl_port" \
    --tsl "udp31:127.0.0.1:$((tsl_port + 1))" \
    --tsl "udp:127.0.0.1:$((tsl_port + 2)),follow=router,sources=1-8" \
    >"$scratch/host.out" 2>"$scratch/host.err" &
host_pid=$!

url=""
for _ in $(seq "$start_timeout_tenths"); do
    url=$(grep -o 'http://[^ ]*' "$scratch/host.out" | head -n 1 || true)
    if [ -n "$url" ] || ! kill -0 "$host_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [ -z "$url" ]; then
    echo "error: panelhost did not start:" >&2
    cat "$scratch/host.err" >&2
    exit 1
fi
echo "== panelhost on $url (data in $scratch/data)"

status=0
PANELHOST_URL="$url" SCREENSHOT_DIR="$root/build/web-screenshots" \
    node --test --test-concurrency=1 ./*.test.js || status=$?
if [ "$status" -ne 0 ]; then
    echo "== the host's log (last 40 lines)"
    tail -n 40 "$scratch/host.err"
fi
exit "$status"
