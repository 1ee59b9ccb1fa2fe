#!/bin/sh
# scripts/demo.sh without windows (COMMCHECK_DEMO_NO_WINDOWS=1), plain and
# with --ser2net: the port folder's entries are what the windows would open,
# commcheck-cli checks through them (port 2 answering, port 1 checking), and
# once the script is stopped its socat, its ser2net and its temporary folder
# are gone.
#
#   sh tests/demo/check_demo.sh <source dir> <commcheck-cli>
set -eu

source_dir=$1
cli=$2
# Seconds to wait for the set-up, and for the script to end when stopped.
SETUP_WAIT=20
END_WAIT=10

work=$(mktemp -d "${TMPDIR:-/tmp}/check-demo.XXXXXX")
demo_pid=""
answer_pid=""
helpers=""
finish() {
    # What a failed run leaves goes too.
    for pid in $answer_pid $demo_pid $helpers; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap finish EXIT

fail() {
    echo "check_demo: $*" >&2
    if [ -s "$work/demo.out" ]; then
        echo "the demo said:" >&2
        sed 's/^/    /' "$work/demo.out" >&2
    fi
    exit 1
}

# Runs the demo with the given options and checks it; $1 is "plain" or "ser2net".
check() {
    mode=$1
    shift
    : >"$work/demo.out"
    COMMCHECK_DEMO_NO_WINDOWS=1 sh "$source_dir/scripts/demo.sh" "$@" "$work/no-window" \
        >"$work/demo.out" 2>&1 &
    demo_pid=$!
    waited=0
    until grep -q '^Press Ctrl+C' "$work/demo.out"; do
        kill -0 "$demo_pid" 2>/dev/null || fail "$mode: the demo ended before it was set up"
        [ "$waited" -lt $((SETUP_WAIT * 10)) ] || fail "$mode: not set up within $SETUP_WAIT s"
        sleep 0.1
        waited=$((waited + 1))
    done
    home=$(sed -n 's/.*XDG_CONFIG_HOME=//p' "$work/demo.out")
    ports="$home/commcheck/ports"
    helpers=$(pgrep -P "$demo_pid" -x 'socat|ser2net' | tr '\n' ' ')

    case $mode in
    plain)
        if [ ! -L "$ports/com1" ] || [ ! -L "$ports/com2" ]; then
            fail "plain: com1 and com2 are not links to the cable's ends"
        fi
        port1="$ports/com1"
        port2="$ports/com2"
        [ "$(echo "$helpers" | wc -w)" -eq 1 ] || fail "plain: not one socat: $helpers"
        ;;
    ser2net)
        for entry in "$ports/com1" "$ports/com2"; do
            if [ ! -f "$entry" ] || [ -L "$entry" ]; then
                fail "ser2net: $entry is not a regular file"
            fi
        done
        port1=$(head -n 1 "$ports/com1")
        port2=$(head -n 1 "$ports/com2")
        for url in "$port1" "$port2"; do
            echo "$url" | grep -Eq '^rfc2217://127\.0\.0\.1:[0-9]+$' ||
                fail "ser2net: an entry reads \"$url\", not rfc2217://127.0.0.1:PORT"
        done
        [ "$(echo "$helpers" | wc -w)" -eq 2 ] || fail "ser2net: not socat and ser2net: $helpers"
        ;;
    esac

    # The line carries a check from port 1 to port 2 and back.
    "$cli" answer "$port2" --text 'ABC[13]' >"$work/answer.out" 2>&1 &
    answer_pid=$!
    sleep 1
    if ! "$cli" check "$port1" --text 'ABC[13]' --interval 100 --count 5 --timeout 2000 \
        >"$work/check.out" 2>&1; then
        cat "$work/check.out" >&2
        fail "$mode: the check through the demo's ports failed"
    fi
    grep -Eq '^count +5$' "$work/check.out" || {
        cat "$work/check.out" >&2
        fail "$mode: not every probe came back"
    }
    kill "$answer_pid"
    wait "$answer_pid" || true
    answer_pid=""

    kill -TERM "$demo_pid"
    waited=0
    while kill -0 "$demo_pid" 2>/dev/null; do
        [ "$waited" -lt $((END_WAIT * 10)) ] || fail "$mode: still running $END_WAIT s after SIGTERM"
        sleep 0.1
        waited=$((waited + 1))
    done
    demo_pid=""
    for pid in $helpers; do
        if kill -0 "$pid" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; then
            fail "$mode: $(cat "/proc/$pid/comm") ($pid) still runs after the demo ended"
        fi
    done
    helpers=""
    [ ! -e "$home" ] || fail "$mode: $home is left behind"
    echo "check_demo: $mode: set up, checked through, cleaned up"
}

[ -x /usr/sbin/ser2net ] || fail "/usr/sbin/ser2net is not installed (apt-get install ser2net)"
check plain
check ser2net --ser2net
