#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from the shipped seeds; any
# crash, sanitizer report or difference from the plain reading fails.
#
#   fuzz/run.sh [SECONDS_EACH]     (60 by default; needs the sanitize build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
fuzzers=build/sanitize/fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/structure-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

status=0
for target in scanner cif binary boxreach xyzdump; do
    mkdir -p "$work/$target"
    # A target's dictionary of tokens, where it has one (fuzz/cif.dict).
    dict=()
    [ -e "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    # New inputs go to the scratch corpus; the shipped seeds stay as they are.
    # A compressed input may declare an xz dictionary or a zstd window of up
    # to 4 GiB, which the decoder allocates and touches only as the text
    # fills it: a single allocation that large is no finding, resident memory is.
    if "$fuzzers/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=4200 \
            -artifact_prefix="$work/$target-" -print_final_stats=1 "${dict[@]}" \
            "$work/$target" fuzz/seeds >"$work/$target.log" 2>&1; then
        echo "$target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$work/$target.log")"
    else
        status=1
        echo "$target: FAILED"
        # What differed (its head: the values may run long), then the report.
        grep -A12 -m1 'differs' "$work/$target.log" || true
        tail -n 30 "$work/$target.log"
        for finding in "$work/$target"-*; do
            # The first 4 KiB only, read by head itself: under pipefail,
            # od cut short by a closed pipe would end the script.
            [ -e "$finding" ] && { echo "input $finding:"; head -c 4096 "$finding" | od -c; }
        done
    fi
done
exit $status
