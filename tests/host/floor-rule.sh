#!/bin/sh
# The rule between the floors of host/ (docs/architecture.md): every include
# points down. app/ over http/ over service/ over store/ over engine/ over
# shared/, tsl/ and ember/; tsl/ and ember/ over net/ (their sockets),
# which includes nothing of the host's other floors; and the engine, which
# runs on one thread and touches no socket or database, includes no thread
# or lock header, no Asio or Beast, no HTTP library and no SQLite or libpq
# header.
#
# Usage: floor-rule.sh HOST_DIR. Prints every include line that breaks the
# rule, with its file, line and the rule; exits 1 when there is any. The
# floors' headers are listed when it runs, so a header added later is
# covered without configuring again.
set -u
host=$1
failed=0

# The headers of the given folders as one grep -E alternation.
headers() {
    for folder in "$@"; do
        for header in "$host/$folder"/*.h; do
            if [ -e "$header" ]; then
                basename "$header"
            fi
        done
    done | sed 's/\./\\./g' | paste -sd '|' -
}

# forbid FOLDER WHY NAMES: every include in FOLDER of a header that the
# alternation NAMES matches, with or without a path before it, breaks the
# rule WHY.
forbid() {
    folder=$1
    why=$2
    names=$3
    if [ -z "$names" ]; then
        return
    fi
    for file in "$host/$folder"/*.h "$host/$folder"/*.cpp; do
        if [ -e "$file" ] && grep -nHE \
            "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]([^<>\"]*/)?($names)[>\"]" \
            "$file"; then
            echo "    ^ host/$folder/ $why"
            failed=1
        fi
    done
}

threads='thread|mutex|shared_mutex|condition_variable|future|stop_token|semaphore|latch|barrier'
asio='boost/asio(\.hpp|/[^<>"]*)|boost/beast(\.hpp|/[^<>"]*)|asio(\.hpp|/[^<>"]*)'
http_library='httplib\.h'
databases='sqlite3\.h|sqlite3ext\.h|libpq-fe\.h|libpq/[^<>"]*'

forbid engine "runs on the engine thread alone: no thread or lock header" "$threads"
forbid engine "opens no socket: no Asio or Beast" "$asio"
forbid engine "serves nothing: no HTTP library" "$http_library"
forbid engine "reaches its data only through NameStore: no SQLite or libpq" "$databases"
forbid engine "includes nothing of the floors above it" "$(headers store service http app)"
forbid store "includes nothing of the floors above it" "$(headers service http app)"
forbid service "includes nothing of the floors above it" "$(headers http app)"
forbid http "includes nothing of the program (app/)" "$(headers app)"
for lowest in shared tsl ember; do
    forbid "$lowest" "includes nothing of the host's floors" \
        "$(headers engine store service http app)"
done
forbid net "includes nothing of the host's other floors" \
    "$(headers engine store service http app shared tsl ember)"

# Includes name headers by file name alone, so each name is kept once.
twice=$(for folder in app http service store engine shared tsl ember net; do
    for header in "$host/$folder"/*.h; do
        if [ -e "$header" ]; then
            basename "$header"
        fi
    done
done | sort | uniq -d)
if [ -n "$twice" ]; then
    echo "headers of the same name in two folders of host/: $twice"
    failed=1
fi

exit "$failed"
