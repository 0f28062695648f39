#!/usr/bin/env bash
# Processes released together append records that name them to one log: every record must lie
# in it whole and on its own, with small records and with records of about 20 KB.
#
#   concurrent_appends.sh BIN_DIR [PROCESSES] [ROUNDS]
set -u
bin_dir=$(cd "$1" && pwd)
processes=${2:-32}
rounds=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

# reply PROCESS PADDING: a compact reply whose arriving mission names the process.
reply() {
    printf '<?xml version="1.0" encoding="UTF-8"?><Envelope><Body><boardReply><missionList>'
    printf '<missions><stationsMessages>Train \xc3\xa0 quai</stationsMessages><stations>'
    printf '<name>Halt %s</name><name>%s</name></stations>' "$1" "$2"
    printf '<stationsDates>07:%02d</stationsDates>' $(($1 % 60))
    printf '<direction><name>Brambleford %s</name><sens>A</sens></direction>' "$1"
    printf '</missions></missionList></boardReply></Body></Envelope>'
}

# expected_lines PROCESS PADDING: the lines its record appends, as they read in the log.
expected_lines() {
    printf 'Halt %s\n%s,07:%02d,Brambleford %s,A\n' "$1" "$2" $(($1 % 60)) "$1"
}

failures=0
checked=0
for size in small large; do
    rm -f expected-lines
    for ((process = 1; process <= processes; process++)); do
        padding="p$process"
        if [ "$size" = large ]; then
            padding="p$process-$(head -c 20000 /dev/zero | tr '\0' 'a')"
        fi
        reply "$process" "$padding" >"reply-$process.xml"
        expected_lines "$process" "$padding" | sed 's/^/,/' >>expected-lines
    done
    paste - - <expected-lines | sort >expected-records
    for ((round = 1; round <= rounds; round++)); do
        rm -f log.csv barrier
        mkfifo barrier
        # The parent holds the barrier open for writing; each child opens it for reading and
        # then lets go of its own copy of the writing end. Once the last one has, every child
        # reads the end of the barrier at the same moment and starts the program.
        exec 3<>barrier
        for ((process = 1; process <= processes; process++)); do
            (
                exec 4<barrier 3>&-
                read -r -u 4 _
                exec "$bin_dir/quaywatch_per_station" "reply-$process.xml" log.csv >/dev/null
            ) &
        done
        exec 3>&-
        wait
        # Each record is the line feed before its first station and then two lines, so the log
        # read two lines at a time holds each expected record once, and nothing else.
        if [ "$(head -c 1 log.csv | od -An -c | tr -d ' ')" != '\n' ] ||
            ! { tail -c +2 log.csv && echo; } | paste - - | sort | cmp -s - expected-records; then
            echo "FAIL: $size records, round $round: the log is not the $processes records whole"
            failures=$((failures + 1))
        fi
        checked=$((checked + processes))
    done
done
echo "$checked records from $processes processes at a time, $rounds rounds each of small and large records"
[ "$failures" = 0 ]
