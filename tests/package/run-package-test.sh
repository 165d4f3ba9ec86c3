#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR (already built) and checks it as
# far as a machine without a container allows: its control data and
# contents, lintian when installed, the unit with systemd-analyze when
# available; then unpacks it into a throwaway root and runs the unpacked
# program with the unit's command line and a configuration file of its
# own: /healthz answers, /metrics counts an operator's action, a reload
# re-reads the file, the log lines carry the journal's priorities, SIGTERM
# ends it cleanly, readiness, reload and end reach the service manager's
# socket, and a file with an unknown key stops the start naming the file's
# line.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
    echo "usage: $0 BUILD_DIR   (a CMake build dir with panelhost and its plugin built)" >&2
    exit 2
fi

build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
host_pid=""
listener_pid=""
cleanup() {
    for pid in $host_pid $listener_pid; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}

# Waits (up to 30 s, a guard against a hang only) until FILE holds PATTERN.
await() {
    local file=$1 pattern=$2
    timeout 30 sh -c 'until grep -q -- "$1" "$0" 2>/dev/null; do sleep 0.1; done' \
        "$file" "$pattern"
}

# The value of one sample line of a metrics page (0 when absent).
sample() {
    local page=$1 series=$2
    awk -v s="$series" '$1 == s { print $2; found = 1 } END { if (!found) print 0 }' "$page"
}

echo "== building the package"
(cd "$build_dir" && cpack -G DEB >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(ls -t "$build_dir"/panelhost_*.deb | head -n 1)
echo "$deb"

echo "== control data and contents"
dpkg-deb -I "$deb" >"$work/info"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./#/#' >"$work/contents"
depends=$(dpkg-deb -f "$deb" Depends)
for package in adduser libsqlite3-0 libsodium23 libsystemd0 libtomlplusplus3 libstdc++6; do
    check "depends on $package" grep -q "$package" <<<"$depends"
done
for file in /usr/bin/panelhost /usr/lib/panelhost/libnameset_editor.so \
    /usr/share/panelhost/layouts/Selector.tovi_ui /usr/share/panelhost/web/index.html \
    /usr/lib/systemd/system/panelhost.service /etc/panelhost/panelhost.toml; do
    check "contains $file" grep -qx "$file" "$work/contents"
done
check "the configuration file is a conffile" \
    sh -c 'dpkg-deb -I "$0" conffiles | grep -qx /etc/panelhost/panelhost.toml' "$deb"
dpkg-deb -e "$deb" "$work/control"
check "postinst makes the system user panelhost" \
    sh -c 'tr -d "\\\\\n" <"$0" | grep -q "adduser --system .*panelhost"' "$work/control/postinst"
for script in postinst prerm postrm; do
    check "$script is valid shell" sh -n "$work/control/$script"
done
if command -v lintian >/dev/null; then
    check "lintian finds no errors" lintian --fail-on error --suppress-tags no-manual-page "$deb"
else
    echo "skip lintian (not installed)"
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
unit="$root/usr/lib/systemd/system/panelhost.service"
for setting in Type=notify User=panelhost ProtectSystem=strict StateDirectory=panelhost \
    NoNewPrivileges=yes Restart=on-failure ExecReload=; do
    check "the unit sets $setting" grep -q "^$setting" "$unit"
done
if command -v systemd-analyze >/dev/null; then
    # Verified as installed, its program path pointing into the unpacked root.
    sed "s#/usr/bin/panelhost#$root/usr/bin/panelhost#" "$unit" >"$work/panelhost.service"
    check "systemd-analyze verifies the unit" systemd-analyze verify "$work/panelhost.service"
else
    echo "skip systemd-analyze (not installed)"
fi

echo "== the unpacked program, started with the unit's command line"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r -a command <<<"$exec_start"
command[0]="$root${command[0]}"
config="$work/panelhost.toml"
for i in "${!command[@]}"; do
    if [ "${command[$i]}" = "/etc/panelhost/panelhost.toml" ]; then
        command[$i]=$config
    fi
done
check "the unit names its configuration file" grep -qF -- "$config" <<<"${command[*]}"
cat >"$config" <<TOML
data = "$work/data"
port = 0
# A receiver nobody listens on: the packets still count.
tsl = ["udp:127.0.0.1:9"]
TOML
# Monitoring and the operator's event below go in with a token, as a
# facility's scraper would.
token=$("${command[0]}" token create --role operator --name monitoring --data "$work/data")
auth=(-H "Authorization: Bearer $token")
: >"$work/stderr"
# Standard error is "the journal's stream" the way the service manager
# announces it, so the program picks the journal's line format itself.
journal_stream=$(stat -c '%d:%i' "$work/stderr")
# The service manager's notification socket, as a Type=notify unit has it.
: >"$work/notified"
socat -u UNIX-RECV:"$work/notify" OPEN:"$work/notified",append &
listener_pid=$!
timeout 30 sh -c 'until [ -S "$0" ]; do sleep 0.1; done' "$work/notify"
JOURNAL_STREAM=$journal_stream NOTIFY_SOCKET="$work/notify" "${command[@]}" \
    >"$work/stdout" 2>>"$work/stderr" &
host_pid=$!
check "it tells the service manager it is ready" await "$work/notified" "READY=1"
check "it serves by then" grep -q "serving on" "$work/stdout"
url=$(sed -n 's/^panelhost: serving on //p' "$work/stdout")
check "it uses the installed plugin" grep -q "plugin $root/usr/lib/panelhost/" "$work/stderr"

curl -fsS "${url}healthz" >"$work/health"
check "/healthz says up and ready" \
    sh -c 'jq -e ".status == \"up\" and .ready == true" "$0" >/dev/null' "$work/health"
curl -fsS "${auth[@]}" -D "$work/metrics.head" "${url}metrics" >"$work/before"
check "/metrics is the Prometheus text format" grep -qi "content-type: text/plain; version=0.0.4" \
    "$work/metrics.head"
events='panelhost_http_requests_total{method="POST",route="/api/panels/{n}/events",status="200"}'
press='panelhost_commands_total{command="PR"}'
curl -fsS "${auth[@]}" -X POST "${url}api/panels/1/events" -H 'Content-Type: application/json' \
    -d '{"panel": "1", "control": "Name_Editor", "event": "button=pressed"}' >/dev/null
curl -fsS "${auth[@]}" "${url}metrics" >"$work/after"
check "an operator's event is counted under its route" \
    test "$(sample "$work/after" "$events")" -eq $(($(sample "$work/before" "$events") + 1))
check "the script's commands are counted" \
    test "$(sample "$work/after" "$press")" -gt "$(sample "$work/before" "$press")"
check "TSL packets are counted" test "$(sample "$work/after" panelhost_tsl_packets_total)" -gt 0
check "the panel instance is running" \
    grep -qx 'panelhost_panel_instance_state{instance="1",state="running"} 1' "$work/after"

echo "verbose = true" >>"$config"
kill -HUP "$host_pid"
check "SIGHUP re-reads the configuration" await "$work/stderr" "verbose is on"
check "log lines carry the journal's priorities" grep -q "^<6>host info: serving on" "$work/stderr"
kill -TERM "$host_pid"
status=0
wait "$host_pid" || status=$?
host_pid=""
check "SIGTERM ends it cleanly" test "$status" -eq 0
check "it told the service manager of the reload and the end" \
    sh -c 'grep -q RELOADING=1 "$0" && grep -q STOPPING=1 "$0"' "$work/notified"
kill "$listener_pid" 2>/dev/null || true
listener_pid=""

echo "== a configuration with an unknown key"
printf 'port = 0\n\ncolour = "blue"\n' >"$config"
status=0
"${command[@]}" >"$work/bad" 2>&1 || status=$?
check "the start stops with exit code 3" test "$status" -eq 3
check "the message names the file and line" grep -qF "$config:3: unknown key \"colour\"" "$work/bad"

if [ "$failures" -ne 0 ]; then
    echo "package: $failures failed"
    echo "--- standard error of the program:"
    cat "$work/stderr"
    exit 1
fi
echo "package: all checks passed"
