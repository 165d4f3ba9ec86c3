#!/usr/bin/env bash
# Cross-builds the 32-bit Windows form of the project (preset win32: the
# plugin nameset_editor.dll, the test programs, and a test host built with
# Microsoft's C++ ABI) and runs every test suite under Wine in a fresh Wine
# prefix of its own. Installs the Debian packages it needs first (only what
# is missing), so it works on a fresh machine.
# Exits non-zero on any failure; the last lines are CTest's summary.
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

# Wine's 32-bit half comes from Debian's i386 architecture; clang and lld
# build the test host that uses Microsoft's C++ ABI.
win32_packages=(cmake ninja-build g++-mingw-w64-i686 googletest wine wine32:i386 clang lld)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "== adding the i386 architecture for wine32"
    $sudo dpkg --add-architecture i386
    # The package lists must be read again to know the i386 packages.
    tovi_apt_update || echo "== some package lists could not be read; installing from the others" >&2
fi
if ! tovi_install_packages "${win32_packages[@]}"; then
    echo "test-win32: could not install ${win32_packages[*]}; wine32 needs the archive's i386 architecture" >&2
    # When the archive itself cannot give its package lists (a mirror
    # caught mid-sync), nothing here is at fault and nothing could be
    # tested: the stage says it was skipped and why, which the summary of
    # scripts/test.sh shows. Any other failure to install fails the stage.
    if ! tovi_apt_update >/dev/null 2>&1; then
        echo "test-win32: SKIPPED: the archive's package lists cannot be read now (see above); run scripts/test-win32.sh again later" >&2
        exit "$TOVI_SKIPPED"
    fi
    exit 1
fi

echo "== 32-bit Windows build (preset win32)"
cmake --preset win32 >/dev/null
cmake --build --preset win32

# The Microsoft-ABI host is built only where clang and lld-link are found;
# this stage must run it. (The list is read whole: grep -q would stop early
# and, under pipefail, fail the pipeline.)
test_list=$(ctest --preset win32 -N)
if ! grep -q "microsoft_abi_host" <<<"$test_list"; then
    echo "test-win32: the Microsoft-ABI test host was not built (clang or lld-link missing)" >&2
    exit 1
fi

# The same prefix and settings as the win32 test preset, so the suites run
# in the prefix made here.
export WINEPREFIX="$root/build/win32/wineprefix"
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines into the prefix.
export WINEDLLOVERRIDES="mscoree=;mshtml="

stop_wineserver() {
    wineserver -k 2>/dev/null || true
}
trap stop_wineserver EXIT

echo "== fresh Wine prefix in $WINEPREFIX"
stop_wineserver
rm -rf "$WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w

echo "== 32-bit test suites under Wine (preset win32)"
ctest --preset win32
