#!/usr/bin/env bash
# Runs the store suite and the several-hosts tests against a throwaway
# PostgreSQL: starts a server from Debian's postgresql package in a
# temporary folder on a free loopback port (as the unprivileged user nobody
# when run as root, since the server refuses root), points
# PANELHOST_TEST_POSTGRES at it, runs the store tests of BUILD_DIR with
# ctest and the node tests of tests/scaleout (panelhost processes sharing
# the server, which they may stop and start through the PANELHOST_TEST_PG_*
# variables; the failover tests make a pg_auto_failover formation of their
# own, as the same user), and stops the server and removes the folder
# afterwards, also when the tests fail.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with panelhost_unit_tests and panelhost built)" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
for program in "$build_dir/tests/host/panelhost_unit_tests" "$build_dir/host/panelhost"; do
    if [ ! -x "$program" ]; then
        echo "error: $program not found; build it first" >&2
        exit 1
    fi
done
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The failover tests make a formation of their own with pg_auto_failover.
if ! command -v pg_autoctl >/dev/null; then
    echo "error: pg_autoctl not found (Debian package postgresql-15-auto-failover)" >&2
    exit 1
fi
# Debian installs the server's programs outside PATH, one folder a version.
bin=$(find /usr/lib/postgresql -mindepth 2 -maxdepth 2 -name bin -type d | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "error: no PostgreSQL server found under /usr/lib/postgresql (Debian package postgresql)" >&2
    exit 1
fi

folder=$(mktemp -d /tmp/panelhost-postgres.XXXXXX)
as_server=()
server_user=""
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$folder"
    as_server=(runuser -u nobody --)
    server_user=nobody
fi
stop() {
    if [ -f "$folder/data/postmaster.pid" ]; then
        "${as_server[@]}" "$bin/pg_ctl" stop -D "$folder/data" -m immediate -w >/dev/null || true
    fi
    rm -rf "$folder"
}
trap stop EXIT

port=$(node -e "const s = require('net').createServer().listen(0, '127.0.0.1', () => {
    console.log(s.address().port); s.close(); });")
"${as_server[@]}" "$bin/initdb" -D "$folder/data" -U panelhost --auth=trust --no-locale \
    -E UTF8 --no-sync >"$folder/initdb.log" || { cat "$folder/initdb.log"; exit 1; }
# -w waits until the server accepts connections.
"${as_server[@]}" "$bin/pg_ctl" start -D "$folder/data" -w -l "$folder/server.log" \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $folder -c fsync=off" >/dev/null ||
    { cat "$folder/server.log"; exit 1; }

export PANELHOST_TEST_POSTGRES="postgresql://panelhost@127.0.0.1:$port/postgres"
output="$folder/ctest.log"
status=0
ctest --test-dir "$build_dir" -R 'StoreContract|SqliteNameStore|AccountStore' --output-on-failure \
    --no-tests=error 2>&1 | tee "$output" || status=$?
# A PostgreSQL run skipped means the server was not used: that is a failure here.
if grep -q "Skipped" "$output"; then
    echo "error: store tests were skipped although a server was running" >&2
    status=1
fi

# What the several-hosts tests need to stop and start the server themselves.
export PANELHOST="$build_dir/host/panelhost"
export PANELHOST_TEST_PG_BIN="$bin" PANELHOST_TEST_PG_DATA="$folder/data"
export PANELHOST_TEST_PG_PORT="$port" PANELHOST_TEST_PG_SOCKETS="$folder"
export PANELHOST_TEST_PG_USER="$server_user"
mapfile -t scaleout < <(find "$here/../scaleout" -maxdepth 1 -name '*.test.js' | sort)
if [ "${#scaleout[@]}" -gt 0 ]; then
    # The tests read the displays with the independent TSL decoder's receivers.
    (cd "$here/../tsl/decoder" && npm ci --no-audit --no-fund --loglevel=error)
    node --test --test-concurrency=1 "${scaleout[@]}" || status=1
fi
exit "$status"
