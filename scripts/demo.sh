#!/bin/sh
# Shows the loop-back check without hardware: two windows side by side, port 1
# of the left one joined to port 2 of the right one by a virtual null-modem
# cable (two pseudo-terminals that socat relays). Both windows see a port
# folder of their own in a temporary folder; the user's own port folder is
# never read or changed. Closing both windows, or Ctrl+C, ends the cable and
# removes the temporary folder.
#
#   sh scripts/demo.sh build/commcheck      (or: make demo)
set -eu

exe="${1:-build/commcheck}"

# The window with its right-hand column in view, in logical pixels, and the
# gap between the two windows (room for a window manager's frames).
WIDTH=560
HEIGHT=371
GAP=40
# Tenths of a second to wait for socat to make the two ports.
LINK_WAIT=50

if [ ! -x "$exe" ]; then
    echo "demo: $exe not found; build it first (make build)." >&2
    exit 1
fi
if ! command -v socat >/dev/null 2>&1; then
    echo "demo: socat is needed for the virtual cable (sh scripts/install-deps.sh installs it)." >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Run it on a virtual display instead:" >&2
    echo "    xvfb-run -a make demo" >&2
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
left_pid=""
right_pid=""

cleanup() {
    trap - EXIT INT TERM
    for pid in $left_pid $right_pid $socat_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $left_pid $right_pid $socat_pid; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

socat pty,raw,echo=0,link="$ports/com1" pty,raw,echo=0,link="$ports/com2" \
    2>"$tmp/socat.log" &
socat_pid=$!

# Both ends exist once socat has made them; -e follows each link to its
# pseudo-terminal.
waited=0
until [ -e "$ports/com1" ] && [ -e "$ports/com2" ]; do
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

XDG_CONFIG_HOME="$tmp" "$exe" -geometry "${WIDTH}x${HEIGHT}+0+0" &
left_pid=$!
XDG_CONFIG_HOME="$tmp" "$exe" -geometry "${WIDTH}x${HEIGHT}+$((WIDTH + GAP))+0" &
right_pid=$!

cat <<EOF
Two windows are open, joined by a virtual null-modem cable:
    port 1 (left window)  <->  port 2 (right window)
    port 1 = $(readlink "$ports/com1"), port 2 = $(readlink "$ports/com2")

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
