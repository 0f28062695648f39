#!/usr/bin/env bash
# Runs quaywatch-log, and the tools themselves, against a SOAP service of our own
# built on spyne on 127.0.0.1: replies wrapped, with a SOAP Header, bare, in SOAP 1.2, compact
# and indented, rpc/encoded, a fault, a service that picks its operation by SOAPAction, an HTTP error page,
# then no service at all; and checks the systemd template units where systemd-analyze is
# installed.
#
#   quaywatch_log_test.sh BIN_DIR EXAMPLES_DIR PYTHON_WITH_SPYNE
set -u
bin_dir=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
python=$3
tests=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 2
export PATH=$bin_dir:$PATH

# Every request of the test is counted here, so that the service stops once it has answered
# them all and the last check finds nobody listening.
requests=25
mkfifo port
"$python" "$tests/board_service.py" port "$requests" &
server=$!
read -r port_number <port
url=http://127.0.0.1:$port_number
cp "$examples/request12.xml" request-soap12.xml

failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
# What a run gave, against what it should have: status, standard output, standard error and
# the log, each exactly.
check() { # WHAT STATUS EXPECTED_STATUS EXPECTED_STDOUT EXPECTED_STDERR EXPECTED_CSV
    local what=$1 status=$2
    [ "$status" = "$3" ] || fail "$what: status $status, expected $3"
    [ "$(cat stdout)" = "$4" ] || fail "$what: standard output: $(tr '\n' '|' <stdout)"
    [ "$(cat stderr)" = "$5" ] || fail "$what: standard error: $(tr '\n' '|' <stderr)"
    [ "$(cat log.csv 2>/dev/null)" = "$6" ] || fail "$what: the log holds $(cat -A log.csv 2>/dev/null)"
    echo "$what: status $status${5:+, \"$5\"}"
}
# The request as the script sends it, for the runs that feed a tool directly.
fetch() { # PATH [REQUEST]
    curl --silent --show-error --request POST --header 'Content-Type: text/xml; charset=utf-8' \
        --header 'SOAPAction: "urn:example:board#getBoard"' \
        --data-binary @"${2:-$examples/request.xml}" "$url$1"
}

logged=$'station: Orrin Bridge\nstation: Vellacombe\nstationsDates: 2026-12-09T07:04:00
stationsDates: 2026-12-09T07:05:00\ndirection->name: Vellacombe\ndirection->sens: A'
reported=$'stationsDates: 2026-12-09T07:04:00\nstationsDates: 2026-12-09T07:05:00
direction->name: Vellacombe\ndirection->sens: A'
record=$'\n,Orrin Bridge\n,Vellacombe,2026-12-09T07:04:00,2026-12-09T07:05:00,Vellacombe,A'

log() { # WHAT EXPECTED_STATUS EXPECTED_STDOUT EXPECTED_STDERR EXPECTED_CSV QUAYWATCH-LOG-ARGUMENTS...
    local what=$1 expected_status=$2 expected_stdout=$3 expected_stderr=$4 expected_csv=$5
    shift 5
    # A configuration file names its own request.
    if [ "$1" = -c ]; then
        "$bin_dir/quaywatch-log" "$@" >stdout 2>stderr
    else
        "$bin_dir/quaywatch-log" -r "$examples/request.xml" "$@" >stdout 2>stderr
    fi
    check "quaywatch-log, $what" $? "$expected_status" "$expected_stdout" "$expected_stderr" \
        "$expected_csv"
}
# The log as it should stand: each run that logs adds one record.
kept=
logs() { kept+=$record; }
logs; log "a wrapped board" 0 "$logged" "" "$kept" "$url/wrapped" log.csv
logs; log "a board after a SOAP Header" 0 "$logged" "" "$kept" "$url/header" log.csv
logs; log "a bare board" 0 "$logged" "" "$kept" "$url/bare" log.csv
logs; log "a board of Arrays" 0 "$logged" "" "$kept" "$url/arrays" log.csv
logs; log "a SOAP 1.2 board" 0 "$logged" "" "$kept" -r request-soap12.xml "$url/soap12" log.csv
log "a SOAP fault" 3 "" "service fault: Unknown board" "$kept" "$url/fault" log.csv
log "another service's SOAPAction" 3 "" "service fault: No operation for this SOAPAction" \
    "$kept" "$url/action" log.csv
logs; log "the service's own SOAPAction" 0 "$logged" "" "$kept" \
    -a '"urn:example:board:getBoard"' "$url/action" log.csv
log "an rpc/encoded board" 3 "" "mission values in SOAP encoding not read" "$kept" \
    "$url/encoded" log.csv
logs; log "an indented board" 0 "$logged" "" "$kept" "$url/wrapped-indented" log.csv
log "an indented board read as compact" 3 "" "no mission list in document" "$kept" \
    -l compact "$url/wrapped-indented" log.csv
log "an HTTP error page" 3 "" "quaywatch-log: reply from $url/closed refused: HTTP 404" "$kept" \
    "$url/closed" log.csv
printf '# the board of the tests\n\nURL=%s\nCSV="log.csv"\nSOAPACTION=%s\nREQUEST=%s\n' \
    "$url/action" "'\"urn:example:board:getBoard\"'" "$examples/request.xml" >board.conf
logs; log "a configuration file" 0 "$logged" "" "$kept" -c board.conf
# An option of the command line wins over the same key of the file, wherever it stands.
sed -i 's/board:getBoard/board:other/' board.conf
logs; log "an option over the file" 0 "$logged" "" "$kept" -a '"urn:example:board:getBoard"' \
    -c board.conf
printf 'URL=%s\nCSV=log.csv\nREQUEST=request-soap12.xml\n' "$url/soap12" >board.conf
logs; log "a configuration file with a request" 0 "$logged" "" "$kept" -c board.conf
printf 'URL=%s\nCSV=log.csv\nrequest=x\n' "$url/soap12" >board.conf
log "a configuration file with an unknown key" 1 "" "quaywatch-log: board.conf:3: unknown key request" \
    "$kept" -c board.conf
log "a configuration file and arguments" 1 "" "usage: quaywatch-log [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV
       quaywatch-log [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] -c CONFIG" \
    "$kept" -c board.conf "$url" log.csv
log "a log that cannot be written" 4 "$logged" "record not appended to $work: Is a directory" \
    "$kept" "$url/wrapped" "$work"

rm log.csv
# The tools on replies fetched as they come, and a bare reply turned into a wrapped one.
wrap=$examples/wrap-bare-reply.xsl
fetch /wrapped-indented | quaywatch - >stdout 2>stderr
check "quaywatch, an indented board" $? 1 "$reported" "" ""
fetch /header-indented | quaywatch - >stdout 2>stderr
check "quaywatch, an indented board after a SOAP Header" $? 1 "$reported" "" ""
fetch /soap12-indented request-soap12.xml | quaywatch - >stdout 2>stderr
check "quaywatch, an indented SOAP 1.2 board" $? 1 "$reported" "" ""
fetch /bare-indented | quaywatch - >stdout 2>stderr
check "quaywatch, an indented bare board" $? 1 "$reported" "" ""
fetch /arrays-indented | quaywatch - >stdout 2>stderr
check "quaywatch, an indented board of Arrays" $? 1 "$reported" "" ""
fetch /bare-indented | xsltproc "$wrap" - | quaywatch - >stdout 2>stderr
check "quaywatch, an indented bare board wrapped" $? 1 "$reported" "" ""
fetch /fault-indented | quaywatch - >stdout 2>stderr
check "quaywatch, an indented fault" $? 0 "" "service fault: Unknown board" ""
fetch /encoded | xmllint --format - | quaywatch - >stdout 2>stderr
check "quaywatch, an rpc/encoded board" $? 1 "" "mission values in SOAP encoding not read" ""
fetch /bare | xsltproc "$wrap" - | quaywatch_per_station - log.csv >stdout 2>stderr
check "quaywatch_per_station, a bare board wrapped" $? 1 "$logged" "" "$record"

wait "$server"
server=
# curl's own words on a refused connection vary with its version: the logger's come first.
"$bin_dir/quaywatch-log" -r "$examples/request.xml" "$url/wrapped" log.csv >stdout 2>stderr
status=$?

sed "s|^\(quaywatch-log: fetching $url/wrapped failed\): .*|\1|" stderr >first-words && mv first-words stderr
check "quaywatch-log, no service" $status 2 "" "quaywatch-log: fetching $url/wrapped failed" \
    "$record"

if command -v systemd-analyze >/dev/null; then
    # The units name the logger where it is installed; here it is where it stands.
    mkdir units
    sed "s|@CMAKE_INSTALL_FULL_BINDIR@/quaywatch-log|$bin_dir/quaywatch-log|" \
        "$examples/systemd/quaywatch-log@.service.in" >units/quaywatch-log@.service
    cp "$examples/systemd/quaywatch-log@.timer" units/
    # The units' documentation is looked up as man finds it.
    mkdir -p manual/man1
    cp "$examples/../man/quaywatch-log.1" manual/man1/
    if (cd units && MANPATH=$work/manual systemd-analyze verify quaywatch-log@test.service \
        quaywatch-log@test.timer); then
        echo "the systemd units verify"
    else
        fail "the systemd units do not verify"
    fi
fi
[ "$failures" = 0 ]
