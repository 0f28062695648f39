#!/usr/bin/env bash
# A record of several megabytes, and the run that appends it interrupted: SIGTERM at moments
# spread over the whole run, the log renamed while the record goes in, the console reader gone.
# The log must hold the whole record or nothing of it.
#
#   interrupted_appends.sh BIN_DIR FAULT_LIBRARY
set -u
bin_dir=$(cd "$1" && pwd)
library=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
# A child killed before it runs the program would run this too; only the script's own may.
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT
cd "$work" || exit 2

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Three stations of a megabyte each.
megabyte=$(head -c 1048576 /dev/zero | tr '\0' 'w')
{
    printf '<?xml version="1.0" encoding="UTF-8"?><Envelope><Body><boardReply><missionList>'
    printf '<missions><stationsMessages>Train \xc3\xa0 quai</stationsMessages><stations>'
    printf '<name>Upper %s</name><name>Middle %s</name><name>Lower %s</name>' \
        "$megabyte" "$megabyte" "$megabyte"
    printf '</stations><stationsDates>07:42</stationsDates>'
    printf '<direction><name>Brambleford</name><sens>A</sens></direction>'
    printf '</missions></missionList></boardReply></Body></Envelope>'
} >reply.xml
earlier_records=$'\n,Earlier Halt,06:10,Brambleford,A'
csv=$work/out.csv
export QW_FAULT_CSV=$csv QW_WRITE_CHUNK=65536

# The shell's own word on a run that a signal ended goes to standard error as well.
run() {
    printf '%s' "$earlier_records" >"$csv"
    {
        LD_PRELOAD=$library "$bin_dir/quaywatch_per_station" reply.xml "$csv" >/dev/null
        status=$?
    } 2>/dev/null
}

QW_FAULT_COUNTS=$work/counts run
cp "$csv" whole.csv
read -r allocations writes _ <counts
[ "$status" = 1 ] && [ "$writes" -gt 40 ] || fail "a run without faults: status $status, $writes writes"

whole=0 untouched=0
holds_whole_or_nothing() { # WHAT
    if cmp -s "$csv" whole.csv; then
        whole=$((whole + 1))
    elif [ "$(cat "$csv")" = "$earlier_records" ]; then
        untouched=$((untouched + 1))
    else
        fail "$1: the log holds $(wc -c <"$csv") bytes, neither the record whole nor as it was"
    fi
}

# SIGTERM raised at a write to the log is held back: the record goes in whole, then the signal
# ends the run.
for ((write = 1; write <= writes; write++)); do
    QW_SIGNAL_AT_WRITE=$write run
    [ "$status" = $((128 + 15)) ] || fail "SIGTERM at write $write: status $status"
    holds_whole_or_nothing "SIGTERM at write $write"
done
[ "$untouched" = 0 ] || fail "SIGTERM during the append left $untouched logs without the record"
echo "SIGTERM at each of the $writes writes of the record: $whole whole, $untouched as they were"

# SIGTERM at allocations spread over the run, from the start to the exit.
whole=0 untouched=0
step=$((allocations / 60 + 1))
for ((allocation = 1; allocation <= allocations; allocation += step)); do
    QW_SIGNAL_AT_ALLOCATION=$allocation run
    holds_whole_or_nothing "SIGTERM at allocation $allocation"
done
echo "SIGTERM at $((whole + untouched)) allocations spread over $allocations: $whole whole, $untouched as they were"

# SIGTERM sent from outside after a growing count of steps, wherever the run then is.
whole=0 untouched=0
for ((delay = 0; delay < 40; delay++)); do
    printf '%s' "$earlier_records" >"$csv"
    {
        "$bin_dir/quaywatch_per_station" reply.xml "$csv" >/dev/null &
        for ((spin = 0; spin < delay * 400; spin++)); do :; done
        kill -TERM $!
        wait $!
    } 2>/dev/null
    holds_whole_or_nothing "SIGTERM sent after $delay steps"
done
echo "SIGTERM sent from outside at 40 moments: $whole whole, $untouched as they were"

# A log rotated while the record goes in: the record lies whole in the rotated file.
for write in 1 $((writes / 2)) "$writes"; do
    rm -f "$csv.1"
    QW_RENAME_AT_WRITE=$write:$csv.1 run
    if [ "$status" != 1 ] || [ -e "$csv" ] || ! cmp -s "$csv.1" whole.csv; then
        fail "log renamed at write $write: status $status, not whole in the rotated file"
    fi
done
echo "log renamed at writes 1, $((writes / 2)) and $writes: the record whole in the rotated file"

# A console reader that goes away after the first line.
printf '%s' "$earlier_records" >"$csv"
unset QW_FAULT_CSV QW_WRITE_CHUNK
"$bin_dir/quaywatch_per_station" reply.xml "$csv" | head -c 10 >/dev/null
status=${PIPESTATUS[0]}
if [ "$status" != 1 ] || ! cmp -s "$csv" whole.csv; then
    fail "console reader gone: status $status, the record not whole"
else
    echo "console reader gone after 10 bytes: status 1, the record whole"
fi

[ "$failures" = 0 ]
