#!/usr/bin/env bash
# Builds the benchmarks with the default preset and runs them: the panel's
# start-up against a plain snprintf baseline, the dispatch of each kind of
# notification, the allocations and memory of one instance, and the host's
# scale (with a thousand event streams open: the API, a press, and a name
# change reaching every stream, a thousand pages reconnecting at once); then
# the HTTP API against nginx serving the same bytes, one connection's
# latency and durable name writes (bench/http-versus-nginx.sh), the latency
# of a vision mixer's tally change through panelhost's --tally-in to its
# display output (bench/tally-latency.js), and a failover of the database
# under two hosts (bench/failover-time.js, 5 rounds), and the page's load
# in a throttled Chromium (bench/page-load.js). Prints the machine and
# every figure; the results of the benchmark program are also kept as JSON
# in build/default/bench/results.json. Options are passed on to the
# benchmark program (nameset_bench --help lists them), e.g.
# --benchmark_filter=Startup.
#   scripts/bench.sh [BENCHMARK_OPTION...]
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages "${TOVI_DEBIAN_PACKAGES[@]}"

cmake --preset default >/dev/null
cmake --build --preset default --target nameset_bench panelhost nameset_editor

# Three rounds of every benchmark; the medians are the figures to quote.
repetitions=3
program=build/default/bench/nameset_bench
options=(--benchmark_repetitions="$repetitions" --benchmark_display_aggregates_only=true
    --benchmark_out=build/default/bench/results.json --benchmark_out_format=json "$@")

echo
echo "== machine"
echo "processors: $(nproc)"
echo "processor:  $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "load:       $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 minutes)"
echo "commit:     $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
echo
echo "== $program ${options[*]}"
"$program" "${options[@]}"
echo
echo "== bench/http-versus-nginx.sh build/default"
"$root/bench/http-versus-nginx.sh" build/default

# The tally path runs the real program against the independent npm sender.
(cd tests/tsl/decoder && npm ci --no-audit --no-fund --loglevel=error)
echo
echo "== node bench/tally-latency.js build/default --changes 1000"
node bench/tally-latency.js build/default --changes 1000

# The failover of the database: kill -9 of the primary to writes and
# displays back (docs/performance.md).
echo
echo "== bench/failover-time.js build/default --rounds 5"
node bench/failover-time.js build/default --rounds 5

# The page on a modest device: Chromium throttled to a 4× slower CPU and a
# fast 3G network, navigation to panels drawn and live.
tovi_install_packages chromium
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
echo
echo "== node bench/page-load.js build/default --rounds 5"
node bench/page-load.js build/default --rounds 5
