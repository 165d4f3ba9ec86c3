# Shared by the project's scripts: the Debian packages the build and the
# tests need, and an idempotent installer that runs apt-get only when one
# of them is missing.

TOVI_DEBIAN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libsqlite3-dev libboost-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev libpugixml-dev
    libsodium-dev libtomlplusplus-dev libsystemd-dev libssl-dev openssl zlib1g-dev
    nodejs clang libclang-rt-14-dev libtsan2
    libpq-dev postgresql postgresql-15-auto-failover
    socat curl jq dpkg-dev lintian
    nginx-light wrk
)

# Another installer (unattended upgrades, a second build) may hold dpkg's
# lock for a while; apt waits this long for it instead of failing at once.
TOVI_APT_OPTIONS=(-o DPkg::Lock::Timeout=600)

# Reads the package lists. A mirror caught in the middle of a sync refuses
# a list at once ("File has unexpected size"), so a failed read is tried
# again a little later, three times in all; there is nothing else to wait on.
# Fails when a list still cannot be read; apt keeps the lists it did read.
TOVI_APT_UPDATE_TRIES=3
# The exit code of a stage that could not run for want of the archive, as
# test harnesses commonly use it; scripts/test.sh counts it as skipped.
TOVI_SKIPPED=77
TOVI_APT_UPDATE_PAUSE=20
tovi_apt_update() {
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    local try
    for ((try = 1; try <= TOVI_APT_UPDATE_TRIES; try++)); do
        if $sudo apt-get "${TOVI_APT_OPTIONS[@]}" update -qq; then
            return 0
        fi
        if [ "$try" -lt "$TOVI_APT_UPDATE_TRIES" ]; then
            echo "== the package lists could not be read; trying again in ${TOVI_APT_UPDATE_PAUSE} s" >&2
            sleep "$TOVI_APT_UPDATE_PAUSE"
        fi
    done
    return 1
}

tovi_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "== installing Debian packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    # A list that stays unreadable (one architecture of one suite, say) need
    # not keep the packages out: the install below says whether it does.
    tovi_apt_update || echo "== some package lists could not be read; installing from the others" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get "${TOVI_APT_OPTIONS[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
