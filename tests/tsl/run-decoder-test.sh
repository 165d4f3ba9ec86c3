#!/usr/bin/env bash
# Cross-checks the display output against the independent npm decoder
# tsl-umd-v5: installs it from the lock file and runs the node tests, which
# drive the tsl_send_fixture and the panelhost built in BUILD_DIR over UDP
# and TCP on loopback (tsl-umd-v5 also sends the vision mixer's tallies);
# and runs the TSL 3.1 end-to-end test, whose serial buses are
# pseudo-terminal pairs from socat (installed when missing).
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

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages socat

cd "$root/tests/tsl/decoder"
npm ci --no-audit --no-fund --loglevel=error
TSL_SEND_FIXTURE="$fixture" PANELHOST="$panelhost" \
    node --test decoder.test.js panelhost.test.js tsl31.test.js tally.test.js
