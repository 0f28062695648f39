#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from a seed corpus of the test suite's documents,
# and fails on the first finding. Usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mkdir "$scratch/seeds"
find "$top/tests/cases" "$top/examples" -type f \( -name '*.xml' -o -name stdin \) |
    while read -r document; do
        cp "$document" "$scratch/seeds/$(echo "$document" | md5sum | cut -c1-16)"
    done

for program in quaywatch2 quaywatch quaywatch_per_station reading escape; do
    mkdir -p "$scratch/corpus-$program" "$scratch/findings-$program"
    echo "== fuzz_$program, $seconds seconds"
    if ! TMPDIR=$scratch "$build/fuzz/fuzz_$program" "$scratch/corpus-$program" "$scratch/seeds" \
        -dict="$here/xml.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$scratch/findings-$program/" 2>"$scratch/log-$program"; then
        tail -n 60 "$scratch/log-$program"
        for finding in "$scratch/findings-$program"/*; do
            echo "--- finding $(basename "$finding"), base64:"
            base64 "$finding" | head -c 4000
            echo
        done
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
        "$scratch/log-$program" || true
    grep -E '^#[0-9]+.*DONE' "$scratch/log-$program" | tail -n 1 || true
done
