#!/usr/bin/env bash
# Builds everything and starts the panel host with its defaults: the built
# panel plugin, the layouts in layouts/, the data folder
# ${XDG_DATA_HOME:-~/.local/share}/panelhost (created and seeded on first
# start) and http://127.0.0.1:8080/. Arguments go on to panelhost, for
# example: scripts/run.sh --port 9000 --panels 2. Stop it with Ctrl-C.
set -euo pipefail

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    echo
    echo "panelhost's own options (after the build):"
    echo "  build/default/host/panelhost --help"
    exit 0
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
tovi_install_packages "${TOVI_DEBIAN_PACKAGES[@]}"

echo "== building (preset default)"
cmake --preset default >/dev/null
cmake --build --preset default

echo "== starting panelhost; it prints its address below"
exec "$root/build/default/host/panelhost" "$@"
