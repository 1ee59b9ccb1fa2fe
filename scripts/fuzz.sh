#!/bin/bash
# Runs each fuzz target for a while on a scratch copy of its seed corpus.
#   scripts/fuzz.sh <build dir> <seconds> <target>...
# Fails when a target finds a crash, a leak or undefined behaviour.
set -euo pipefail
build="$1"
seconds="$2"
shift 2
for target in "$@"; do
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    corpus="tests/fuzz/corpus/${target#fuzz_}"
    echo "fuzz: $target for $seconds s"
    if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        "$scratch" "$corpus" >"$scratch.log" 2>&1; then
        tail -40 "$scratch.log"
        echo "fuzz: $target FAILED" >&2
        exit 1
    fi
    grep -E "stat::number_of_executed_units" "$scratch.log" | sed "s/^/fuzz: $target /"
    rm -rf "$scratch" "$scratch.log"
done
