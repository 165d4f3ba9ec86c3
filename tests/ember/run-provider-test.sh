#!/usr/bin/env bash
# Cross-checks the Ember+ consumer against the independent provider
# node-emberplus: installs it from the lock file and runs the node tests,
# which start provider.js and drive the ember_probe built in BUILD_DIR over
# loopback, and the panelhost built there following the provider, its
# displays read by the independent TSL decoder of tests/tsl/decoder.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with ember_probe and panelhost built)" >&2
    exit 2
fi

build_dir=$(cd "$1" && pwd)
probe="$build_dir/tests/ember/ember_probe"
panelhost="$build_dir/host/panelhost"
for program in "$probe" "$panelhost"; do
    if [ ! -x "$program" ]; then
        echo "error: $program not found; build it first" >&2
        exit 1
    fi
done

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
(cd "$here/../tsl/decoder" && npm ci --no-audit --no-fund --loglevel=error)
cd "$here"
npm ci --no-audit --no-fund --loglevel=error
EMBER_PROBE="$probe" PANELHOST="$panelhost" node --test consumer.test.js router.test.js
