#!/bin/sh
# Start-up time and memory of commcheck against a bare Qt window, in turns,
# on the X display (a virtual one from xvfb-run when there is none).
#
#   bench/startup.sh [build dir] [runs]      (default: build, 10 runs)
set -eu

BUILD_DIR=${1:-build}
RUNS=${2:-10}

if [ -z "${DISPLAY:-}" ]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "startup.sh: no DISPLAY and no xvfb-run (install xvfb)" >&2
        exit 1
    fi
    exec xvfb-run -a -s "-screen 0 1280x1024x24" sh "$0" "$BUILD_DIR" "$RUNS"
fi

# A desktop session has a D-Bus session bus, and Qt's accessibility bridge
# looks for it when a window first sets a text. Without one libdbus forks to
# try dbus-launch, several milliseconds that no desktop user pays and that
# the bare window, which sets no text, never meets: give both programs a bus.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    if ! command -v dbus-run-session >/dev/null 2>&1; then
        echo "startup.sh: no session bus and no dbus-run-session (install dbus-daemon)" >&2
        exit 1
    fi
    exec dbus-run-session -- sh "$0" "$BUILD_DIR" "$RUNS"
fi

# A real window system, whatever the caller chose for the tests.
QT_QPA_PLATFORM=xcb
export QT_QPA_PLATFORM
# Qt warns on every start without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi

"$BUILD_DIR/bench/bench_startup" "$BUILD_DIR/commcheck" "$BUILD_DIR/bench/bare_window" "$RUNS"
