#!/bin/sh
# Runs window_on_bus.py with the program inside a private D-Bus session (the
# accessibility bus is started from it on demand) and a virtual X display.
# Usage: run_window_on_bus.sh PROGRAM
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for tool in dbus-run-session xvfb-run /usr/bin/python3 /usr/libexec/at-spi-bus-launcher; do
    if ! command -v "$tool" >/dev/null 2>&1 && [ ! -x "$tool" ]; then
        echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" \
    /usr/bin/python3 "$here/window_on_bus.py" "$1"
