#!/usr/bin/env bash
# Runs each program on the bundled examples once per allocation, failing that allocation, and
# the per-station program once per byte of its record with the disk filling up there, and with
# writes that fail, break off or are interrupted. Every run must end one of two ways: status 1
# with exactly the output of a good run, or refused, with the log as it was; never a signal.
#
#   fault_sweep.sh BIN_DIR FAULT_LIBRARY EXAMPLES_DIR
set -u
bin_dir=$(cd "$1" && pwd)
library=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
examples=$(cd "$3" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

csv=$work/out.csv
earlier_records=$'\n,Earlier Halt,06:10,Brambleford,A'
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run PROGRAM ARGUMENT...: one run from the log as it was, with the faults in the environment.
run() {
    printf '%s' "$earlier_records" >"$csv"
    LD_PRELOAD=$library "$bin_dir/$@" >stdout 2>stderr
    status=$?
}

ends_with() { # FILE BYTES
    [ -n "$2" ] && tail -c "${#2}" "$1" | cmp -s - <(printf '%s' "$2")
}

is_prefix() { # file-that-may-be-cut-short whole-file
    cmp -s "$1" <(head -c "$(wc -c <"$1")" "$2")
}

# classify FIRST_MESSAGE SECOND_MESSAGE: the class of the last run, or a failure.
classify() {
    if [ "$status" -ge 128 ]; then
        outcome="signal $((status - 128))"
    elif [ "$status" = 1 ] && cmp -s stdout good.stdout && cmp -s "$csv" good.csv; then
        outcome=whole
    elif [ "$status" = 0 ] && is_prefix stdout good.stdout && [ "$(cat "$csv")" = "$earlier_records" ] &&
        { ends_with stderr "$1" || ends_with stderr "$2"; }; then
        outcome=refused
    else
        outcome="status $status, $(wc -c <stdout) bytes out, $(tail -c 80 stderr | tr '\n' '|')"
    fi
}

# sweep_faults STRIDE PARSE_FAILURE_MESSAGE PROGRAM ARGUMENT...: one run per allocation of a
# good run (or per STRIDE-th allocation, spread over the whole run), each failing that one.
sweep_faults() {
    local stride=$1 parse_failure=$2
    shift 2
    QW_FAULT_COUNTS=$work/counts run "$@"
    cp stdout good.stdout
    cp "$csv" good.csv
    [ "$status" = 1 ] || fail "$1: a run without faults gave status $status"
    local allocations total whole=0 refused=0 runs=0
    read -r allocations _ <counts
    for ((fault = 1; fault <= allocations; fault += stride)); do
        QW_FAIL_ALLOCATION=$fault run "$@"
        classify "$parse_failure" $'out of memory\n'
        runs=$((runs + 1))
        case $outcome in
        whole) whole=$((whole + 1)) ;;
        refused) refused=$((refused + 1)) ;;
        *) fail "$1, allocation $fault failed: $outcome" ;;
        esac
    done
    echo "$1 $(basename "${2:-}"): $runs runs, each failing allocation 1+${stride}k of $allocations:" \
        "$whole whole, $refused refused"
}

sweep_faults 1 $'document not parsed successfully. \n' quaywatch2 "$examples/arriving.xml"
sweep_faults 1 $'document not parsed successfully\n' quaywatch "$examples/board-indented.xml"
sweep_faults 1 $'document not parsed successfully\n' \
    quaywatch_per_station "$examples/board-compact.xml" "$csv"

# A reply of thousands of entries, read and released as the parse goes: an allocation failing
# anywhere in the stream must refuse the run, never report a part of the board.
departed='<missions><stationsMessages>Train parti</stationsMessages><stations><name>Orrin Bridge</name></stations><stationsDates>2026-12-09T06:58:00</stationsDates><direction><name>Hollin Cross</name><sens>R</sens></direction></missions>'
arriving='<missions><stationsMessages>Train à quai</stationsMessages><stations><name>Vellacombe</name></stations><stationsDates>2026-12-09T07:04:00</stationsDates><direction><name>Pellory</name><sens>A</sens></direction></missions>'
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Envelope><Body><getBoardResponse><getBoardResult>'
    yes "$departed" | head -n 6000 | tr -d '\n'
    printf '%s</getBoardResult></getBoardResponse></Body></Envelope>\n' "$arriving"
} >large-compact.xml
xmllint --format large-compact.xml >large-indented.xml
sweep_faults 997 $'document not parsed successfully\n' quaywatch "$work/large-indented.xml"
sweep_faults 997 $'document not parsed successfully\n' \
    quaywatch_per_station "$work/large-compact.xml" "$csv"

# From here on the per-station program and its record: a run whose record does not get in must
# still print every value, give status 1 and say why, the log left as it was.
export QW_FAULT_CSV=$csv
per_station=(quaywatch_per_station "$examples/board-compact.xml" "$csv")
run "${per_station[@]}"
cp stdout good.stdout
cp "$csv" good.csv
record_size=$(($(wc -c <good.csv) - ${#earlier_records}))

expect_not_appended() { # REASON WHAT
    if [ "$status" = 1 ] && cmp -s stdout good.stdout && [ "$(cat "$csv")" = "$earlier_records" ] &&
        [ "$(cat stderr)" = "record not appended to $csv: $1" ]; then
        not_appended=$((not_appended + 1))
    else
        classify "" ""
        fail "$2: $outcome"
    fi
}

expect_whole() { # WHAT
    if [ "$status" = 1 ] && cmp -s stdout good.stdout && cmp -s "$csv" good.csv && [ ! -s stderr ]; then
        whole=$((whole + 1))
    else
        classify "" ""
        fail "$1: $outcome"
    fi
}

whole=0 not_appended=0
for ((room = 0; room <= record_size; room++)); do
    QW_DISK_FULL_AFTER=$room run "${per_station[@]}"
    if [ "$room" -lt "$record_size" ]; then
        expect_not_appended "No space left on device" "disk full after $room bytes"
    else
        expect_whole "disk full after $room bytes"
    fi
done
echo "disk full after each of 0..$record_size bytes of the record: $whole whole, $not_appended not appended"

whole=0 not_appended=0
chunk=8
writes=$(((record_size + chunk - 1) / chunk))
for ((write = 1; write <= writes; write++)); do
    QW_WRITE_CHUNK=$chunk QW_FAIL_WRITE=$write:5 run "${per_station[@]}"
    expect_not_appended "Input/output error" "write $write of $writes failing with EIO"
    QW_WRITE_CHUNK=$chunk QW_FAIL_WRITE=$write:4 run "${per_station[@]}"
    expect_whole "write $write of $writes interrupted"
done
echo "$writes writes of $chunk bytes, each failing and each interrupted in turn: $whole whole, $not_appended not appended"

# A file-size limit below the end of the record: the write fails and raises SIGXFSZ.
whole=0 not_appended=0
earlier_records=$(head -c 1000 /dev/zero | tr '\0' 'x')
(ulimit -f 1 && run "${per_station[@]}" && exit "$status")
status=$?
expect_not_appended "File too large" "file-size limit"
[ "$not_appended" = 1 ] && echo "a file-size limit inside the record: not appended, status 1"

[ "$failures" = 0 ]
