#!/usr/bin/env bash
# The log under the operations of a real machine: a lock held by another process, rotation,
# an append-only file, a console on a full file system or gone. Every wait is on a count or on
# an event (a FIFO, the kernel's table of locks), never on the clock.
#
#   log_operations.sh BIN_DIR FAULT_LIBRARY EXAMPLES_DIR
set -u
bin_dir=$(cd "$1" && pwd)
library=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
examples=$(cd "$3" && pwd)
work=$(mktemp -d)
mounted=
trap '[ -n "$mounted" ] && umount "$mounted"; rm -rf "$work"' EXIT
cd "$work" || exit 2

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

csv=$work/out.csv
earlier_records=$'\n,Earlier Halt,06:10,Brambleford,A'
reply=$examples/board-compact.xml
per_station=$bin_dir/quaywatch_per_station
"$per_station" "$reply" good.csv >good.stdout
printf '%s' "$earlier_records" >before.csv
cat before.csv good.csv >after.csv

# True once the process waits for an exclusive flock, as the kernel's table of locks shows it.
waits_for_lock() { # PID
    local tries
    for ((tries = 0; tries < 20000; tries++)); do
        grep -q -E "^[0-9]+: -> FLOCK +ADVISORY +WRITE +$1 " /proc/locks && return 0
    done
    return 1
}

# True once the process has ended (a zombie, until it is waited for).
ends() { # PID
    local tries state
    for ((tries = 0; tries < 200000; tries++)); do
        read -r _ _ state _ <"/proc/$1/stat" 2>/dev/null || return 0
        [ "$state" = Z ] && return 0
    done
    return 1
}

# Another process holds the log's lock until a line comes down the FIFO release.
mkfifo held release
hold_lock() {
    flock "$csv" sh -c 'echo >"$1"; read -r line <"$2"' hold held release &
    holder=$!
    read -r _ <held
}

cp before.csv "$csv"
hold_lock
"$per_station" "$reply" "$csv" >stdout 2>stderr &
run=$!
waits_for_lock "$run" || fail "the run does not wait for the held lock"
kill -TERM "$run"
if ends "$run"; then
    wait "$run"
    status=$?
    [ "$status" = 143 ] || fail "SIGTERM while waiting for the lock: status $status"
    cmp -s "$csv" before.csv || fail "SIGTERM while waiting for the lock: the log was changed"
    echo "SIGTERM while the lock is held elsewhere: the run ends at once (status $status), the log untouched"
else
    fail "SIGTERM while waiting for the lock does not end the run"
fi

"$per_station" "$reply" "$csv" >stdout 2>stderr &
run=$!
waits_for_lock "$run" || fail "the run does not wait for the held lock"
echo >release
wait "$holder"
wait "$run"
status=$?
if [ "$status" = 1 ] && cmp -s stdout good.stdout && cmp -s "$csv" after.csv && [ ! -s stderr ]; then
    echo "the lock let go: the run appends whole, every console line there"
else
    fail "the lock let go: status $status, $(wc -c <stdout) bytes out, $(cat stderr)"
fi

# A signal held back during the append ends the run after it; the console has had its lines.
cp before.csv "$csv"
QW_FAULT_CSV=$csv QW_SIGNAL_AT_WRITE=1 LD_PRELOAD=$library "$per_station" "$reply" "$csv" \
    >stdout 2>/dev/null
status=$?
if [ "$status" = 143 ] && cmp -s stdout good.stdout && cmp -s "$csv" after.csv; then
    echo "SIGTERM during the append: the record whole, then the run ends (status $status), the console whole"
else
    fail "SIGTERM during the append: status $status, $(wc -c <stdout) bytes out"
fi

# A rotation between the open and the lock: the record goes to the file the path names now.
cp before.csv "$csv"
rm -f "$csv.1"
QW_FAULT_CSV=$csv QW_ROTATE_AT_LOCK=1:$csv.1 LD_PRELOAD=$library "$per_station" "$reply" "$csv" \
    >/dev/null 2>stderr
status=$?
if [ "$status" = 1 ] && cmp -s "$csv" good.csv && cmp -s "$csv.1" before.csv && [ ! -s stderr ]; then
    echo "log rotated before its lock was had: the record in the new log, the old one as it was"
else
    fail "log rotated before the lock: status $status, $(cat stderr)"
fi
QW_FAULT_CSV=$csv QW_ROTATE_AT_LOCK=0:$csv.1 LD_PRELOAD=$library "$per_station" "$reply" "$csv" \
    >/dev/null 2>stderr
status=$?
expected="record not appended to $csv: the file was replaced 8 times while the run waited for its lock"
if [ "$status" = 1 ] && [ "$(cat stderr)" = "$expected" ] && [ ! -s "$csv" ] && [ ! -s "$csv.1" ]; then
    echo "log rotated at every lock: \"$expected\""
else
    fail "log rotated at every lock: status $status, $(cat stderr)"
fi

# A rotator that takes the lock, renames the log, creates a new one and at once takes the old one
# away, racing appenders: every record lies once in what it took away or in the live log.
appends=300
template=$(cat "$reply")
for ((number = 0; number < appends; number++)); do
    printf '%s' "${template/<name>Brambleford Central<\/name>/<name>Halt $number</name>}" \
        >"reply-$number.xml"
done
: >"$csv"
: >taken.csv
rm -f appends-done
rotate() {
    local rotations
    for ((rotations = 0; rotations < 100000; rotations++)); do
        [ -e appends-done ] && break
        # The new log is made without truncating one that an appender made first.
        flock "$csv" sh -c 'mv "$1" "$1.1" && : >>"$1"' rotate "$csv"
        cat "$csv.1" >>taken.csv && rm "$csv.1"
    done
    echo "$rotations" >rotations
}
rotate &
rotator=$!
for ((number = 0; number < appends; number++)); do
    echo "reply-$number.xml"
done | xargs -P 3 -I '{}' "$per_station" '{}' "$csv" >/dev/null 2>append-errors
touch appends-done
wait "$rotator"
cat taken.csv "$csv" >all.csv
found=$(grep -c -x ',Halt [0-9]*' all.csv)
distinct=$(grep -x ',Halt [0-9]*' all.csv | sort -u | wc -l)
whole=$(grep -c -x ',Marrowgate,2026-12-08T07:42:00,2026-12-08T07:43:00,Brambleford Central,A' all.csv)
if [ "$found" = "$appends" ] && [ "$distinct" = "$appends" ] && [ "$whole" = "$appends" ] &&
    [ ! -s append-errors ]; then
    echo "$appends appends against $(cat rotations) rotations: $found records found, each once, none lost"
else
    fail "$appends appends against $(cat rotations) rotations: $found found, $distinct distinct, $whole whole, $(head -c 200 append-errors)"
fi

# An append-only log with no room for the whole record: the part that got in cannot be cut away,
# and the run says so.
cp before.csv "$csv"
QW_FAULT_CSV=$csv QW_DISK_FULL_AFTER=20 QW_FAIL_TRUNCATE=1 LD_PRELOAD=$library \
    "$per_station" "$reply" "$csv" >stdout 2>stderr
status=$?
expected="record cut short in $csv: No space left on device (the file could not be cut back: Operation not permitted)"
if [ "$status" = 1 ] && [ "$(cat stderr)" = "$expected" ] && cmp -s stdout good.stdout &&
    cmp -s "$csv" <(head -c $((${#earlier_records} + 20)) after.csv); then
    echo "a cut-back that fails: \"$expected\""
else
    fail "a cut-back that fails: status $status, $(cat stderr)"
fi

# The console on a file system that is full: the report is lost, and the run says so; the record
# still goes in whole.
if mkdir full && mount -t tmpfs -o size=4k tmpfs full 2>/dev/null; then
    mounted=$work/full
    head -c 4096 /dev/zero >full/filler 2>/dev/null
    cp before.csv "$csv"
    "$per_station" "$reply" "$csv" >full/stdout 2>stderr
    status=$?
    if [ "$status" = 1 ] && [ "$(cat stderr)" = "write error: No space left on device" ] &&
        cmp -s "$csv" after.csv; then
        echo "the console on a full file system: \"$(cat stderr)\", the record whole"
    else
        fail "the console on a full file system: status $status, $(cat stderr)"
    fi
    for program in quaywatch2:arriving.xml quaywatch:board-indented.xml; do
        "$bin_dir/${program%%:*}" "$examples/${program#*:}" >full/stdout 2>stderr
        status=$?
        [ "$status" = 1 ] && [ "$(cat stderr)" = "write error: No space left on device" ] ||
            fail "${program%%:*} on a full file system: status $status, $(cat stderr)"
    done
else
    echo "no tmpfs could be mounted here: the full file system is left out"
fi

# A console reader that goes away after its first line: no message, the record whole.
cp before.csv "$csv"
"$per_station" "$reply" "$csv" 2>stderr | head -n 1 >/dev/null
status=${PIPESTATUS[0]}
if [ "$status" = 1 ] && [ ! -s stderr ] && cmp -s "$csv" after.csv; then
    echo "| head -n 1: status 1, nothing said, the record whole"
else
    fail "| head -n 1: status $status, $(cat stderr)"
fi

[ "$failures" = 0 ]
