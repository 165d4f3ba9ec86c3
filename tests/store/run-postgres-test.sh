#!/usr/bin/env bash
# Runs the store suite against a throwaway PostgreSQL: starts a server from
# Debian's postgresql package in a temporary folder on a free loopback port
# (as the unprivileged user nobody when run as root, since the server
# refuses root), points PANELHOST_TEST_POSTGRES at it, runs the store tests
# of BUILD_DIR with ctest, and stops the server and removes the folder
# afterwards, also when the tests fail.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with panelhost_unit_tests built)" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
if [ ! -x "$build_dir/tests/host/panelhost_unit_tests" ]; then
    echo "error: $build_dir/tests/host/panelhost_unit_tests not found; build it first" >&2
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
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$folder"
    as_server=(runuser -u nobody --)
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
ctest --test-dir "$build_dir" -R 'StoreContract|SqliteNameStore' --output-on-failure \
    --no-tests=error 2>&1 | tee "$output" || status=$?
# A PostgreSQL run skipped means the server was not used: that is a failure here.
if grep -q "Skipped" "$output"; then
    echo "error: store tests were skipped although a server was running" >&2
    status=1
fi
exit "$status"
