#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for a bounded
# time from its seed corpus in fuzz/corpus/, as many at once as there are
# processors. Fails on any crash, sanitizer report or invariant violation;
# the input that caused it is left in build/fuzz/findings/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-30}
shift || true

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages clang libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(cd build/fuzz/fuzz && ls fuzz_* | sort)
fi

mkdir -p build/fuzz/findings
# One target runs per processor at a time: each fuzzer is a single thread.
parallel=$(nproc)

# Fuzzes `target` for the given time; its log is build/fuzz/NAME.log.
fuzz_one() {
    local target=$1 name=${1#fuzz_}
    local work="build/fuzz/corpus-run/$name"
    mkdir -p "$work"
    build/fuzz/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build/fuzz/findings/$name-" "$work" "fuzz/corpus/$name" \
        >"build/fuzz/$name.log" 2>&1
}

# Prints what `target`'s run found once it has ended with `status`.
report() {
    local target=$1 status=$2 name=${1#fuzz_}
    echo "== fuzzed $target for ${seconds}s"
    if [ "$status" -eq 0 ]; then
        grep -E "stat::number_of_executed_units|DONE" "build/fuzz/$name.log" | tail -2
        passed=$((passed + 1))
    else
        tail -40 "build/fuzz/$name.log"
        echo "FAILED: $target (log: build/fuzz/$name.log)"
        failed=$((failed + 1))
    fi
}

passed=0
failed=0
for ((first = 0; first < ${#targets[@]}; first += parallel)); do
    batch=("${targets[@]:first:parallel}")
    pids=()
    for target in "${batch[@]}"; do
        fuzz_one "$target" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        status=0
        wait "${pids[$i]}" || status=$?
        report "${batch[$i]}" "$status"
    done
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
