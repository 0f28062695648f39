#!/usr/bin/env bash
# Runs quaywatch-log against a hostile HTTP service of our own on 127.0.0.1, one case a folder,
# and compares every byte it gives with what the case expects.
#
#   logger_cases.sh LOGGER CASES_DIR EXAMPLES_DIR
#
# The logger runs from a scratch prefix (bin/, and share/quaywatch/request.xml beside it, as
# installed), in a copy of the case's folder. A case folder holds:
#   arguments             the logger's arguments, as shell words ($PORT is the service's port)
#   setup                 shell lines run in the copy first ($PORT set), e.g. to write a config
#   expected.status       the exit status
#   expected.stdout       standard output, exactly (absent: nothing)
#   expected.stderr       standard error, exactly (absent: nothing), after $PORT is put in
#   expected.stderr-start the bytes standard error must begin with, where the rest is curl's
#   expected.csv          out.csv afterwards (absent: out.csv must not exist); a case that starts
#                         from an existing log carries it as out.csv
#   max-rss-mb            the most the run's peak RSS may reach, in MiB (not checked with
#                         QW_NO_RSS_BOUND set, as in a sanitizer's build)
#   max-seconds           the most the run may take, in seconds
#   environment           NAME=VALUE lines the run has in its environment ($PORT put in)
#   address-space-mb      the address space the run is given, in MiB (the case is skipped with
#                         QW_NO_RSS_BOUND set: a sanitizer's shadow takes terabytes of it)
#   heavy                 present when the case is skipped with QW_NO_RSS_BOUND set too, as a
#                         gigabyte's reading would take minutes in a sanitizer's build
set -u
logger=$1
cases=$(cd "$2" && pwd)
examples=$(cd "$3" && pwd)
tests=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
service=
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/prefix/bin" "$work/prefix/share/quaywatch"
cp "$logger" "$work/prefix/bin/quaywatch-log"
cp "$examples/request.xml" "$examples/request12.xml" "$work/prefix/share/quaywatch/"

mkfifo "$work/port"
python3 "$tests/hostile_service.py" "$work/port" &
service=$!
read -r PORT <"$work/port"
export PORT

failures=0
fail() {
    echo "FAIL: $name: $1"
    failures=$((failures + 1))
}
# What the run gave must be what the case expects, its port put in.
same_as() { # EXPECTED_FILE ACTUAL_FILE WHAT [BYTES]
    local expected
    expected=$(sed "s/\$PORT/$PORT/g" "$1"; printf x)
    expected=${expected%x}
    if [ -n "${4:-}" ]; then
        head -c "${#expected}" "$2" | cmp -s - <(printf '%s' "$expected") || {
            fail "$3 does not begin as expected: $(head -c 300 "$2" | cat -A)"
        }
    elif ! cmp -s <(printf '%s' "$expected") "$2"; then
        fail "$3 differs: $(head -c 600 "$2" | cat -A)"
    fi
}

for case_dir in "$cases"/*/; do
    name=$(basename "$case_dir")
    copy=$work/case
    rm -rf "$copy"
    cp -R "$case_dir" "$copy"
    cd "$copy" || exit 2
    if [ -f setup ]; then
        bash setup || { fail "setup failed"; continue; }
    fi
    eval "arguments=($(cat arguments))"
    environment=()
    [ -f environment ] && mapfile -t environment < <(sed "s/\$PORT/$PORT/g" environment)
    if { [ -f address-space-mb ] || [ -f heavy ]; } && [ -n "${QW_NO_RSS_BOUND:-}" ]; then
        echo "$name: skipped in this build"
        cd "$work" || exit 2
        continue
    fi
    address_space=0
    [ -f address-space-mb ] && address_space=$(cat address-space-mb)
    # The run, its peak RSS and its time, as the parent of nothing else sees them.
    python3 -c '
import resource, subprocess, sys, time
address_space = int(sys.argv[1]) << 20
def bound():
    if address_space:
        resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
start = time.monotonic()
with open("stdout.got", "wb") as out, open("stderr.got", "wb") as err:
    status = subprocess.run(sys.argv[2:], stdout=out, stderr=err, preexec_fn=bound).returncode
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
with open("measured.got", "w") as measured:
    measured.write("%d %d %.3f\n" % (status, usage.ru_maxrss // 1024, time.monotonic() - start))
' "$address_space" env "${environment[@]}" "$work/prefix/bin/quaywatch-log" "${arguments[@]}"
    read -r status rss_mb seconds <measured.got
    [ "$status" = "$(cat expected.status)" ] || fail "exit status $status, expected $(cat expected.status)"
    if [ -f expected.stdout ]; then
        same_as expected.stdout stdout.got "standard output"
    else
        same_as /dev/null stdout.got "standard output"
    fi
    if [ -f expected.stderr-start ]; then
        same_as expected.stderr-start stderr.got "standard error" start
    elif [ -f expected.stderr ]; then
        same_as expected.stderr stderr.got "standard error"
    else
        same_as /dev/null stderr.got "standard error"
    fi
    if [ -f expected.csv ]; then
        cmp -s expected.csv out.csv || fail "the log holds $(cat -A out.csv 2>/dev/null | head -c 300)"
    elif [ -e out.csv ]; then
        fail "the log was written"
    fi
    if [ -f max-rss-mb ] && [ -z "${QW_NO_RSS_BOUND:-}" ] && [ "$rss_mb" -gt "$(cat max-rss-mb)" ]; then
        fail "peak RSS $rss_mb MiB, above $(cat max-rss-mb)"
    fi
    if [ -f max-seconds ] && ! awk -v took="$seconds" -v most="$(cat max-seconds)" 'BEGIN { exit !(took <= most) }'; then
        fail "took $seconds s, more than $(cat max-seconds)"
    fi
    echo "$name: status $status, ${rss_mb} MiB, $seconds s"
    cd "$work" || exit 2
done
[ "$failures" = 0 ]
