#!/usr/bin/env bash
# Runs quaywatch and quaywatch_per_station as built, which read a reply as it streams, and the
# reference tools, which read the whole tree, on every command-line case of the suite and on
# generated replies, and requires the same standard output, standard error, status and CSV bytes
# of both on each.
#
#   differential.sh BIN_DIR REFERENCE_BIN_DIR GENERATE_REPLY CASES_DIR
set -u
bin_dir=$(cd "$1" && pwd)
reference_dir=$(cd "$2" && pwd)
generate=$3
cases=$(cd "$4" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

failures=0 compared=0 generator_compared=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}

# run_in FOLDER BIN_DIR PROGRAM INPUT [STDOUT_DEVICE] ARGUMENT...: one run in a copy's folder,
# what it gave left there.
run_in() {
    local folder=$1 programs=$2 program=$3 input=$4 device=$5
    shift 5
    (cd "$folder" && PATH=$programs:$PATH "$program" "$@" <"$input" >"${device:-stdout}" 2>stderr
        echo $? >status)
}

# compare WHAT PROGRAM SOURCE_FOLDER [INPUT [STDOUT_DEVICE]] ARGUMENT...: the program of each
# reading on a copy of the folder each.
compare() {
    local what=$1 program=$2 source=$3 input=${4:-/dev/null} device=${5:-}
    shift 5
    rm -rf streaming whole
    cp -R "$source" streaming
    cp -R "$source" whole
    run_in streaming "$bin_dir" "$program" "$input" "$device" "$@"
    run_in whole "$reference_dir" "$program" "$input" "$device" "$@"
    compared=$((compared + 1))
    local file
    for file in status stdout stderr out.csv; do
        if [ -e "whole/$file" ] || [ -e "streaming/$file" ]; then
            cmp -s "whole/$file" "streaming/$file" || fail "$what: $file differs"
        fi
    done
}

for case_dir in "$cases"/*/; do
    name=$(basename "$case_dir")
    mapfile -t command_line <"$case_dir/command"
    program=${command_line[0]}
    case $program in quaywatch | quaywatch_per_station) ;; *) continue ;; esac
    [ -f "$case_dir/argv0" ] || [ -f "$case_dir/closed" ] && continue
    rm -rf source
    cp -R "$case_dir" source
    if [ -f source/setup ]; then
        (cd source && bash setup) || { fail "$name: setup"; continue; }
    fi
    input=/dev/null
    [ -f source/stdin ] && input=stdin
    device=
    [ -f source/stdout-device ] && device=$(cat source/stdout-device)
    compare "$name" "$program" source "$input" "$device" "${command_line[@]:1}"
done
cases_compared=$compared

# What a tool gave on a generated reply, against what the generator says it must give: an oracle
# of its own, which shares nothing with either reading.
against_expected() { # WHAT FOLDER
    cmp -s "$2/stdout" expected.stdout || fail "$1: standard output is not the generator's"
    if [ -s expected.csv ]; then
        cmp -s "$2/out.csv" expected.csv || fail "$1: the record is not the generator's"
    elif [ -f expected.csv ] && [ -e "$2/out.csv" ]; then
        fail "$1: a record where the generator has none"
    fi
}

# Generated boards of a few sizes and arrival rates, as they come and reshaped: with a Header,
# bare, and with comments, CDATA, entity references and processing instructions among and
# inside the entries.
reshape() { # KIND FILE
    case $1 in
    plain) cat "$2" ;;
    header) sed '0,/<soap:Body>/s//<soap:Header><id>r-7<\/id><\/soap:Header><soap:Body>/' "$2" ;;
    bare) sed -e 's/<missionList>//' -e 's/<\/missionList>//' "$2" ;;
    pieces)
        sed -e '2i<!DOCTYPE soap:Envelope [<!ENTITY here "Train &#xE0; quai"><!ENTITY gone "Train parti">]>' \
            -e 's/<\/missions>/<\/missions><!-- between --><?board next?>\&gone;<![CDATA[ ]]>/' \
            -e 's/>Train à quai</>Train \&#xE0;<!-- split --> quai</' \
            -e 's/<stationsDates>\([^<]*\)</<stationsDates><![CDATA[\1]]>\&amp;</' "$2"
        ;;
    esac
}
mkdir board
for layout in indented compact; do
    program=quaywatch
    [ "$layout" = compact ] && program=quaywatch_per_station
    for size_and_rate in 0.02:0 0.02:0.3 0.3:0.002 1:0.0005; do
        rm -f expected.csv
        expect_csv=()
        [ "$program" = quaywatch_per_station ] && expect_csv=(--expect-csv expected.csv)
        "$generate" --layout "$layout" --megabytes "${size_and_rate%:*}" \
            --arriving "${size_and_rate#*:}" --seed 11 --output generated.xml \
            --expect expected.stdout "${expect_csv[@]}"
        for kind in plain header bare pieces; do
            reshape "$kind" generated.xml >board/reply.xml
            compare "$layout $size_and_rate $kind" "$program" board "" "" reply.xml out.csv
            # A Header and a bare list change nothing of what is reported.
            if [ "$kind" != pieces ]; then
                against_expected "$layout $size_and_rate $kind, streaming" streaming
                against_expected "$layout $size_and_rate $kind, whole tree" whole
                generator_compared=$((generator_compared + 2))
            fi
            # Each reply to the other tool too: the shapes it does not read must agree as well.
            other=quaywatch_per_station
            [ "$program" = quaywatch_per_station ] && other=quaywatch
            compare "$layout $size_and_rate $kind, to $other" "$other" board "" "" reply.xml out.csv
        done
    done
done

echo "$cases_compared command-line cases and $((compared - cases_compared)) generated replies" \
    "read both ways, $generator_compared readings against the generator's own: $failures differences"
[ "$failures" = 0 ]
