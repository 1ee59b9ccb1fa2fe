#!/bin/sh
# Starts the window, or explains how when there is no display to show it on.
set -eu
exe="$1"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "commcheck: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Run it on a virtual display instead:" >&2
    echo "    xvfb-run -a $exe" >&2
    exit 1
fi
exec "$exe"
