#!/usr/bin/env bash
# Builds the Debian package of the panel host: configures and builds the
# default preset (installing the Debian packages the build needs first) and
# runs CPack; prints the package's path. Install it on a studio machine with
# `apt install ./panelhost_VERSION_ARCH.deb` (README: "Installing on a
# studio machine").
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages "${TOVI_DEBIAN_PACKAGES[@]}"

cmake --preset default >/dev/null
cmake --build --preset default --target panelhost nameset_editor
(cd build/default && cpack -G DEB >/dev/null)
ls -t "$root"/build/default/panelhost_*.deb | head -n 1
