#!/bin/sh
# Refreshes the pictures in docs/: builds commcheck_screenshots and runs it on
# a virtual X display (Xvfb, the xcb platform), so that the pictures come out
# the same on any machine, with or without a desktop.
#
#   sh scripts/screenshots.sh [build-dir]      (or: make screenshots)
set -eu

build="${1:-build}"
root=$(cd "$(dirname "$0")/.." && pwd)
docs="$root/docs"

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target commcheck_screenshots

# A fixed screen (24-bit, 96 dpi) at one device pixel per logical pixel,
# whatever the calling environment asks for.
env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_ENABLE_HIGHDPI_SCALING \
    QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
    "$build/tools/commcheck_screenshots" "$docs"
