#!/usr/bin/env bash
# Cross-checks the display output against the independent npm decoder
# tsl-umd-v5: installs it from the lock file and runs the node tests, which
# drive the tsl_send_fixture and the panelhost built in BUILD_DIR over UDP
# and TCP on loopback.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with tsl_send_fixture and panelhost built)" >&2
    exit 2
fi

build_dir=$(cd "$1" && pwd)
fixture="$build_dir/tests/tsl/tsl_send_fixture"
panelhost="$build_dir/host/panelhost"
for program in "$fixture" "$panelhost"; do
    if [ ! -x "$program" ]; then
        echo "error: $program not found; build it first" >&2
        exit 1
    fi
done

cd "$(dirname "${BASH_SOURCE[0]}")/decoder"
npm ci --no-audit --no-fund --loglevel=error
TSL_SEND_FIXTURE="$fixture" PANELHOST="$panelhost" node --test decoder.test.js panelhost.test.js
