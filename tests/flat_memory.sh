#!/usr/bin/env bash
# Reads a generated 50 MB reply with each reply tool under an address-space limit far below what
# a tree of it takes (some 600 MB), and requires the right report: the reading keeps about one
# entry of the list at a time, whatever the size of the reply.
#
#   flat_memory.sh BIN_DIR GENERATE_REPLY
set -u
bin_dir=$(cd "$1" && pwd)
generate=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
limit_kb=65536
failures=0

for layout in indented compact; do
    "$generate" --layout "$layout" --megabytes 50 --arriving 0.001 --seed 5 --output reply.xml \
        --expect expected.stdout --expect-csv expected.csv
    if [ "$layout" = indented ]; then
        (ulimit -v $limit_kb && exec "$bin_dir/quaywatch" reply.xml) >stdout 2>stderr
    else
        (ulimit -v $limit_kb && exec "$bin_dir/quaywatch_per_station" reply.xml out.csv) >stdout 2>stderr
    fi
    status=$?
    if [ "$status" = 1 ] && cmp -s stdout expected.stdout && [ ! -s stderr ] &&
        { [ "$layout" = indented ] || cmp -s out.csv expected.csv; }; then
        echo "$layout 50 MB reply in $((limit_kb / 1024)) MB of address space: reported right"
    else
        echo "FAIL: $layout 50 MB reply in $((limit_kb / 1024)) MB: status $status, $(head -c 200 stderr)"
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ]
