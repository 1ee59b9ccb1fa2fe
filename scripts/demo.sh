#!/bin/sh
# Shows the loop-back check without hardware: two windows side by side, port 1
# of the left one joined to port 2 of the right one by a virtual null-modem
# cable (two pseudo-terminals that socat relays). Both windows see a port
# folder of their own in a temporary folder; the user's own port folder is
# never read or changed. Closing both windows, or Ctrl+C, ends the cable and
# removes the temporary folder.
#
# With --ser2net each end of the cable is a line behind a device server
# instead: Debian's ser2net serves both on 127.0.0.1, one RFC 2217 port each,
# and the port folder's entries com1 and com2 are files whose first line is
# rfc2217://127.0.0.1:PORT. ser2net ends with the cable.
#
# COMMCHECK_DEMO_NO_WINDOWS=1 sets everything up, prints the port folder and
# waits for Ctrl+C (or SIGTERM) without opening windows or needing a display:
# for commcheck-cli, or to try the set-up alone.
#
#   sh scripts/demo.sh build/commcheck              (or: make demo)
#   sh scripts/demo.sh --ser2net build/commcheck    (or: make demo-ser2net)
set -eu

ser2net=""
if [ "${1:-}" = "--ser2net" ]; then
    ser2net=/usr/sbin/ser2net
    shift
fi
exe="${1:-build/commcheck}"
windows=yes
if [ "${COMMCHECK_DEMO_NO_WINDOWS:-}" = 1 ]; then
    windows=""
fi

# The window with its right-hand column in view, in logical pixels, and the
# gap between the two windows (room for a window manager's frames).
WIDTH=560
HEIGHT=371
GAP=40
# Tenths of a second to wait for socat to make the two ports, and for ser2net
# to take connections on its two.
LINK_WAIT=50
# Starts of ser2net on fresh ports: another program may take a port between
# the look for a free one and ser2net's bind.
SER2NET_ATTEMPTS=5

if [ -n "$windows" ] && [ ! -x "$exe" ]; then
    echo "demo: $exe not found; build it first (make build)." >&2
    exit 1
fi
if ! command -v socat >/dev/null 2>&1; then
    echo "demo: socat is needed for the virtual cable (sh scripts/install-deps.sh installs it)." >&2
    exit 1
fi
if [ -n "$ser2net" ] && [ ! -x "$ser2net" ]; then
    echo "demo: $ser2net is not installed; --ser2net needs the device server" >&2
    echo "(sh scripts/install-deps.sh installs it, or: apt-get install ser2net)." >&2
    exit 1
fi
if [ -n "$ser2net" ] && [ ! -x /usr/bin/python3 ]; then
    echo "demo: /usr/bin/python3 is needed to find free TCP ports (sh scripts/install-deps.sh)." >&2
    exit 1
fi
if [ -n "$windows" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Run it on a virtual display instead:" >&2
    echo "    xvfb-run -a make demo${ser2net:+-ser2net}" >&2
    exit 1
fi
# Qt's -geometry option, which places the windows, works on X11: use it
# wherever an X server is there, on Wayland too through XWayland.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -n "${DISPLAY:-}" ]; then
    QT_QPA_PLATFORM=xcb
fi
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/commcheck-demo.XXXXXX")
ports="$tmp/commcheck/ports"
mkdir -p "$ports"
socat_pid=""
ser2net_pid=""
left_pid=""
right_pid=""

cleanup() {
    # A second signal (timeout(1) sends one to the script and one to its
    # process group) must not cut the cleanup short.
    trap - EXIT
    trap '' INT TERM
    for pid in $left_pid $right_pid $ser2net_pid $socat_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $left_pid $right_pid $ser2net_pid $socat_pid; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The cable's ends are the port folder's entries themselves or, behind
# ser2net, links of their own.
if [ -n "$ser2net" ]; then
    end1="$tmp/line1"
    end2="$tmp/line2"
else
    end1="$ports/com1"
    end2="$ports/com2"
fi
socat pty,raw,echo=0,link="$end1" pty,raw,echo=0,link="$end2" \
    2>"$tmp/socat.log" &
socat_pid=$!

# Both ends exist once socat has made them; -e follows each link to its
# pseudo-terminal.
waited=0
until [ -e "$end1" ] && [ -e "$end2" ]; do
    if ! kill -0 "$socat_pid" 2>/dev/null; then
        echo "demo: socat stopped before it made the cable:" >&2
        sed 's/^/    /' "$tmp/socat.log" >&2
        exit 1
    fi
    if [ "$waited" -ge "$LINK_WAIT" ]; then
        echo "demo: socat made no cable within $((LINK_WAIT / 10)) seconds." >&2
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done

# Two TCP ports of 127.0.0.1 that nobody listens on.
free_ports() {
    /usr/bin/python3 -c 'import socket
a = socket.socket()
a.bind(("127.0.0.1", 0))
b = socket.socket()
b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])'
}

# Whether something listens on port $1, told without connecting: a
# connection would make ser2net open its line.
taken() {
    ! /usr/bin/python3 -c 'import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))' "$1" 2>/dev/null
}

# ser2net in the foreground (-n), its configuration on the command line (-Y)
# instead of its own file, without UUCP locks (-u): each pseudo-terminal
# behind an RFC 2217 port. Sets port1 and port2.
start_ser2net() {
    attempt=0
    while [ "$attempt" -lt "$SER2NET_ATTEMPTS" ]; do
        attempt=$((attempt + 1))
        found=$(free_ports) || {
            echo "demo: could not look for free TCP ports on 127.0.0.1." >&2
            return 1
        }
        # shellcheck disable=SC2086 # two numbers, split on purpose
        set -- $found
        port1=$1
        port2=$2
        "$ser2net" -n -u \
            -Y "connection: &com1#  accepter: telnet(rfc2217),tcp,127.0.0.1,$port1" \
            -Y "  connector: serialdev,$(readlink "$end1"),9600n81,local" \
            -Y "connection: &com2#  accepter: telnet(rfc2217),tcp,127.0.0.1,$port2" \
            -Y "  connector: serialdev,$(readlink "$end2"),9600n81,local" \
            >"$tmp/ser2net.log" 2>&1 &
        ser2net_pid=$!
        waited=0
        while kill -0 "$ser2net_pid" 2>/dev/null && [ "$waited" -lt "$LINK_WAIT" ]; do
            if taken "$port1" && taken "$port2"; then
                return 0
            fi
            sleep 0.1
            waited=$((waited + 1))
        done
        kill "$ser2net_pid" 2>/dev/null || true
        wait "$ser2net_pid" 2>/dev/null || true
        ser2net_pid=""
    done
    echo "demo: ser2net took no connections on 127.0.0.1 in $SER2NET_ATTEMPTS tries:" >&2
    sed 's/^/    /' "$tmp/ser2net.log" >&2
    return 1
}

if [ -n "$ser2net" ]; then
    start_ser2net || exit 1
    printf 'rfc2217://127.0.0.1:%s\n' "$port1" >"$ports/com1"
    printf 'rfc2217://127.0.0.1:%s\n' "$port2" >"$ports/com2"
    line1="$(head -n 1 "$ports/com1"), ser2net in front of $(readlink "$end1")"
    line2="$(head -n 1 "$ports/com2"), ser2net in front of $(readlink "$end2")"
else
    line1=$(readlink "$ports/com1")
    line2=$(readlink "$ports/com2")
fi

if [ -z "$windows" ]; then
    cat <<EOF
A virtual null-modem cable joins port 1 and port 2:
    port 1 = $line1
    port 2 = $line2
Their port folder is $ports;
commcheck-cli reads it with XDG_CONFIG_HOME=$tmp
Press Ctrl+C to end.
EOF
    # A signal ends the wait and runs the cleanup.
    while :; do
        sleep 1 &
        wait $! || true
    done
fi

XDG_CONFIG_HOME="$tmp" "$exe" -geometry "${WIDTH}x${HEIGHT}+0+0" &
left_pid=$!
XDG_CONFIG_HOME="$tmp" "$exe" -geometry "${WIDTH}x${HEIGHT}+$((WIDTH + GAP))+0" &
right_pid=$!

cat <<EOF
Two windows are open, joined by a virtual null-modem cable:
    port 1 (left window)  <->  port 2 (right window)
    port 1 = $line1
    port 2 = $line2

Right window, the answering station (port 2):
    1. Type 2 in ポートＮＯ (port number) and click オープン (Open).
    2. Type the text to check in the upper box, e.g. ABC[13]
    3. Click 受信 (Receive), then 開始 (Start).
Left window, the checking station (port 1; ポートＮＯ is already 1):
    1. Click オープン (Open).
    2. Type the same text in the upper box, e.g. ABC[13]
    3. Click 送信 (Send).
    4. Tick 通信フィードバックチェック (feedback check), set インターバル
       (interval) to e.g. 100 ms, and click 開始 (Start).
The left window then shows the last, total, maximum and minimum response
time, the count of exchanges and of errors; 終了 (Stop) ends the check.

Close both windows, or press Ctrl+C here, to end the demo.
EOF

# Waits for both windows; a signal ends the wait and runs the cleanup.
wait "$left_pid" "$right_pid" || true
