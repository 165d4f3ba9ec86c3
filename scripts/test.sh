#!/usr/bin/env bash
# Builds the project and runs every test suite: the native suites, the
# display-output cross-check, the Ember+ consumer against an independent
# provider, the store suite against a throwaway PostgreSQL, the browser
# tests, the Debian package (built, unpacked and run as the service would),
# the native suites under the sanitizers, the host's suites under
# ThreadSanitizer, a short run of every fuzz target, and the 32-bit Windows
# build under Wine. Installs the Debian packages it needs first (only what
# is missing), so it works on a fresh machine. Exits non-zero on any
# failure; a stage that could not run because the Debian archive would not
# give its package lists is named SKIPPED in the summary. The last lines
# are each runner's summary.
set -uo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages "${TOVI_DEBIAN_PACKAGES[@]}" || exit 1

logs="$root/build/logs"
mkdir -p "$logs"
stages=()
results=()

# Runs one stage, its output shown and kept in build/logs/NAME.log.
stage() {
    local name=$1
    shift
    echo
    echo "== $name"
    "$@" 2>&1 | tee "$logs/$name.log"
    local status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ]; then
        results+=("passed")
    elif [ "$status" -eq "$TOVI_SKIPPED" ]; then
        results+=("SKIPPED")
    else
        results+=("FAILED")
    fi
    stages+=("$name")
}

native() {
    cmake --preset default >/dev/null && cmake --build --preset default &&
        ctest --preset default
}
sanitized() {
    cmake --preset sanitize >/dev/null && cmake --build --preset sanitize &&
        ctest --preset sanitize
}
threads() {
    cmake --preset tsan >/dev/null && cmake --build --preset tsan && ctest --preset tsan
}

stage native native
stage display-decoder tests/tsl/run-decoder-test.sh build/default
stage ember-provider tests/ember/run-provider-test.sh build/default
stage postgres tests/store/run-postgres-test.sh build/default
stage browser tests/web/run-browser-tests.sh build/default
stage package tests/package/run-package-test.sh build/default
stage sanitize sanitized
stage tsan threads
stage fuzz scripts/fuzz.sh 30
stage win32 bash scripts/test-win32.sh

echo
echo "== summary"
failed=0
skipped=0
for i in "${!stages[@]}"; do
    summary=$(grep -E "tests passed|^# (pass|fail) |passed, [0-9]+ failed|^package: " \
        "$logs/${stages[$i]}.log" | tr '\n' ' ')
    echo "${stages[$i]}: ${results[$i]}  $summary"
    case "${results[$i]}" in
        passed) ;;
        SKIPPED) skipped=$((skipped + 1)) ;;
        *) failed=$((failed + 1)) ;;
    esac
done
echo "stages: $(( ${#stages[@]} - failed - skipped )) passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
