#!/bin/sh
# Long runs of bench_soak: the two-station check, then an answering station
# under a stream of stray bytes, each for the given minutes. Fails if either
# fails (errors, nothing got through, or resident memory growing).
#
#   bench/soak.sh [minutes=10] [build dir=build]
#
# A relative build directory is taken from the repository's top folder; one
# not configured yet is configured like the main build.
set -u

minutes=${1:-10}
build=${2:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
case $build in
/*) ;;
*) build=$top/$build ;;
esac

case $minutes in
'' | *[!0-9]*)
    echo "soak.sh: minutes must be a whole number, not '$minutes'" >&2
    exit 2
    ;;
esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
cmake --build "$build" --target bench_soak || exit 1

export QT_QPA_PLATFORM=offscreen
status=0
for mode in pair stray; do
    echo "== bench_soak $mode $minutes"
    if ! "$build/bench/bench_soak" "$mode" "$minutes"; then
        echo "soak.sh: $mode failed"
        status=1
    fi
done
[ $status -eq 0 ] && echo "soak.sh: both runs passed"
exit $status
