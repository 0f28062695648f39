#!/usr/bin/env bash
# Runs one command-line case and compares every byte it gives with what the case expects.
#
#   run_case.sh CASE_DIR BIN_DIR
#
# A case is a folder. The program runs in a scratch copy of it, so the arguments name its
# files by their plain names.
#   command              line 1: the program; each further line: one argument, verbatim
#   argv0                the name to invoke the program under (default: the program's name)
#   stdin                standard input (default: none)
#   closed               descriptors the program starts with closed, e.g. 1 (stdout, for one)
#   stdout-device        a device, or a file the setup made, that standard output is appended
#                        to instead, e.g. /dev/full; there is then no expected.stdout
#   file-size-limit      the limit of `ulimit -f` the program runs under, in KiB
#   setup                shell lines run in the copy first, e.g. to make a large document
#   expected.status      the exit status
#   expected.stdout      standard output, exactly (absent: nothing)
#   expected.stderr      standard error, exactly (absent: nothing)
#   expected.stderr-tail the bytes standard error must end with, after the library's own text
#   expected.csv         out.csv afterwards, exactly (absent: out.csv must not exist); a case
#                        that starts from an existing CSV file carries it as out.csv
# QUAYWATCH_WRAPPER, when set, is a command the program runs under (valgrind, for one).
set -u

case_dir=$1
bin_dir=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'chmod -R u+rwx "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
work=$scratch/work
cp -R "$case_dir" "$work"
cd "$work" || exit 2

if [ -f setup ]; then
    bash setup || { echo "setup failed"; exit 2; }
fi

mapfile -t command_line < command
program=${command_line[0]}
arguments=("${command_line[@]:1}")
input=/dev/null
[ -f stdin ] && input=stdin
closing=
if [ -f closed ]; then
    for descriptor in $(cat closed); do
        closing+=" $descriptor>&-"
    done
fi

# Found on the PATH, the program is invoked under its plain name, with or without a wrapper.
# A case that names it otherwise runs it directly, without the wrapper: such cases stop at the
# usage line, before any document is read.
run() {
    if [ -f argv0 ]; then
        (exec -a "$(cat argv0)" "$bin_dir/$program" "${arguments[@]}")
    else
        # shellcheck disable=SC2086
        eval 'PATH=$bin_dir:$PATH ${QUAYWATCH_WRAPPER:-} "$program" "${arguments[@]}"' "$closing"
    fi
}
output=$scratch/stdout
[ -f stdout-device ] && output=$(cat stdout-device)
file_size_limit=unlimited
[ -f file-size-limit ] && file_size_limit=$(cat file-size-limit)
(ulimit -f "$file_size_limit" && run <"$input" >>"$output" 2>"$scratch/stderr")
status=$?
[ -f "$scratch/stdout" ] || : >"$scratch/stdout"

failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
same_bytes() { # expected-file actual-file what
    if ! cmp -s "$1" "$2"; then
        fail "$3 differs"
        diff -u --text "$1" "$2" | tail -n +3 | cat -A | head -n 20
    fi
}

expected_status=$(cat expected.status)
[ "$status" = "$expected_status" ] || fail "exit status $status, expected $expected_status"

if [ -f expected.stdout ]; then
    same_bytes expected.stdout "$scratch/stdout" "standard output"
else
    same_bytes /dev/null "$scratch/stdout" "standard output"
fi

if [ -f expected.stderr-tail ]; then
    tail_size=$(wc -c <expected.stderr-tail)
    tail -c "$tail_size" "$scratch/stderr" >"$scratch/stderr-tail"
    same_bytes expected.stderr-tail "$scratch/stderr-tail" "end of standard error"
elif [ -f expected.stderr ]; then
    same_bytes expected.stderr "$scratch/stderr" "standard error"
else
    same_bytes /dev/null "$scratch/stderr" "standard error"
fi

if [ -f expected.csv ]; then
    if [ -f out.csv ]; then
        same_bytes expected.csv out.csv "CSV file"
    else
        fail "CSV file out.csv was not written"
    fi
elif [ -e out.csv ] || [ -L out.csv ]; then
    fail "CSV file out.csv was written"
fi

if [ "$failures" -gt 0 ]; then
    echo "--- standard error was:"
    head -c 2000 "$scratch/stderr"
    exit 1
fi
exit 0
