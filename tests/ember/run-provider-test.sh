#!/usr/bin/env bash
# Cross-checks the Ember+ consumer against the independent provider
# node-emberplus: installs it from the lock file and runs the node tests,
# which start provider.js and drive the ember_probe built in BUILD_DIR over
# loopback.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with ember_probe built)" >&2
    exit 2
fi

build_dir=$(cd "$1" && pwd)
probe="$build_dir/tests/ember/ember_probe"
if [ ! -x "$probe" ]; then
    echo "error: $probe not found; build it first" >&2
    exit 1
fi

cd "$(dirname "${BASH_SOURCE[0]}")"
npm ci --no-audit --no-fund --loglevel=error
EMBER_PROBE="$probe" node --test consumer.test.js
