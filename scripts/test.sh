#!/usr/bin/env bash
# Builds the project and runs every test suite. Installs the Debian packages
# it needs first (only what is missing), so it works on a fresh machine.
# Exits non-zero on any failure; the last lines are the runners' summaries.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages "${TOVI_DEBIAN_PACKAGES[@]}"

echo "== native build and tests (preset default)"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
