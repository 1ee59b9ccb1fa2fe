#!/usr/bin/env bash
# Runs every benchmark of a build folder in turn, showing
# each one's own output, then prints one table of the figures they reported
# (their "SUMMARY" lines). A benchmark that fails to run makes the whole run
# fail; a figure that misses its target only says MISSED in the table.
#
#   bench/run_all.sh [build dir] [idle seconds]     (default: build, 60)
set -u -o pipefail

BUILD_DIR=${1:-build}
IDLE_SECONDS=${2:-60}
HERE=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt warns on every start without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

summary="$work/summary.tsv"
: >"$summary"
failed=0

run() {
    local name=$1
    shift
    echo
    echo "=== $name"
    "$@" 2>&1 | tee "$work/out"
    local status=$?
    if [ "$status" -ne 0 ]; then
        echo "=== $name FAILED (exit $status)"
        printf '%s\t%s\t-\t-\tFAILED\n' "$name" "did not run to the end (exit $status)" >>"$summary"
        failed=1
        return
    fi
    grep '^SUMMARY	' "$work/out" | cut -f2- >>"$summary"
}

run bench_codec "$BUILD_DIR/bench/bench_codec"
run startup "$HERE/startup.sh" "$BUILD_DIR" 10
run bench_idle "$BUILD_DIR/bench/bench_idle" "$IDLE_SECONDS"
run bench_burst "$BUILD_DIR/bench/bench_burst"
run bench_send "$BUILD_DIR/bench/bench_send"
run bench_loopback "$BUILD_DIR/bench/bench_loopback"
run bench_chart "$BUILD_DIR/bench/bench_chart" "$IDLE_SECONDS"
run bench_cli "$BUILD_DIR/bench/bench_cli" "$BUILD_DIR/commcheck-cli"
run bench_network "$BUILD_DIR/bench/bench_network" "$BUILD_DIR/commcheck-cli"
run bench_monitor "$BUILD_DIR/bench/bench_monitor" "$BUILD_DIR/commcheck-cli"
run bench_metrics "$BUILD_DIR/bench/bench_metrics"

echo
echo "=== summary"
awk -F'\t' '
    { for (i = 1; i <= 5; ++i) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
    END {
        split("figure value target reference status", head, " ")
        for (i = 1; i <= 5; ++i) if (length(head[i]) > width[i]) width[i] = length(head[i])
        line = ""
        for (i = 1; i <= 5; ++i) line = line sprintf("%-" width[i] "s  ", head[i])
        sub(/ +$/, "", line)
        print line
        line = ""
        for (i = 1; i <= 5; ++i) { dash = sprintf("%" width[i] "s", ""); gsub(/ /, "-", dash); line = line dash "  " }
        sub(/ +$/, "", line)
        print line
        for (r = 1; r <= NR; ++r) {
            line = ""
            for (i = 1; i <= 5; ++i) line = line sprintf("%-" width[i] "s  ", cell[r, i])
            sub(/ +$/, "", line)
            print line
        }
    }' "$summary"

exit "$failed"
