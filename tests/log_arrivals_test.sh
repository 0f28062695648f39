#!/usr/bin/env bash
# Runs examples/log-arrivals.sh against a board service of our own on 127.0.0.1: a normal reply,
# a SOAP fault and an HTTP error page, then with no service at all; and checks the example
# systemd units where systemd-analyze is installed.
#
#   log_arrivals_test.sh BIN_DIR EXAMPLES_DIR
set -u
bin_dir=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 2
export PATH=$bin_dir:$PATH

board='<?xml version="1.0" encoding="UTF-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><boardReply xmlns="urn:example:board"><missionList><missions><stationsMessages>Train à quai</stationsMessages><stations><name>Brambleford</name><name>Wexcombe Halt</name></stations><stationsDates>2026-12-08T07:42:00</stationsDates><direction><name>Ost-Lindow</name><sens>A</sens></direction></missions></missionList></boardReply></soap:Body></soap:Envelope>'
fault='<?xml version="1.0" encoding="UTF-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><soap:Fault><faultcode>soap:Client</faultcode><faultstring>Unknown board</faultstring></soap:Fault></soap:Body></soap:Envelope>'
printf '%s' "$board" >board.xml
printf '%s' "$fault" >fault.xml

# The service answers a POST that carries the request and its SOAP headers: /board with a board,
# /fault with a SOAP fault (HTTP 500, as SOAP has it), /down with an HTTP error page. It tells
# its port through a FIFO, serves the requests of the test and stops by itself.
mkfifo port
python3 - port 4 <<'EOF' &
import http.server, sys

class Board(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        request = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        well_formed = (self.headers.get("Content-Type") == "text/xml; charset=utf-8"
                       and self.headers.get("SOAPAction") and b"<getBoard" in request)
        status, body, kind = {
            "/board": (200, open("board.xml", "rb").read(), "text/xml"),
            "/fault": (500, open("fault.xml", "rb").read(), "text/xml"),
        }.get(self.path, (503, b"Service Unavailable\n", "text/plain"))
        if not well_formed:
            status, body, kind = 400, b"bad request\n", "text/plain"
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass

service = http.server.HTTPServer(("127.0.0.1", 0), Board)
service.timeout = 60
with open(sys.argv[1], "w") as port:
    port.write(str(service.server_port))
for _ in range(int(sys.argv[2])):
    service.handle_request()
EOF
server=$!
read -r port_number <port
url=http://127.0.0.1:$port_number

failures=0
check() { # STATUS WHAT EXPECTED_STATUS EXPECTED_LAST_STDERR_LINE EXPECTED_CSV
    local status=$1
    if [ "$status" != "$3" ] || [ "$(tail -n 1 stderr)" != "$4" ] || [ "$(cat log.csv 2>/dev/null)" != "$5" ]; then
        echo "FAIL: $2: status $status, standard error: $(tr '\n' '|' <stderr)"
        failures=$((failures + 1))
    else
        echo "$2: status $status${4:+, \"$4\"}"
    fi
}

record=$'\n,Brambleford\n,Wexcombe Halt,2026-12-08T07:42:00,Ost-Lindow,A'
"$examples/log-arrivals.sh" "$url/board" log.csv >stdout 2>stderr
check $? "a board with a train at the platform" 0 "" "$record"
if [ "$(head -n 1 stdout)" != "station: Brambleford" ]; then
    echo "FAIL: the values were not printed"
    failures=$((failures + 1))
fi
"$examples/log-arrivals.sh" "$url/fault" log.csv >stdout 2>stderr
check $? "a SOAP fault" 3 "service fault: Unknown board" "$record"
"$examples/log-arrivals.sh" "$url/down" log.csv >stdout 2>stderr
check $? "an HTTP error page" 3 "document not parsed successfully" "$record"
"$examples/log-arrivals.sh" "$url/board" "$work" >stdout 2>stderr
check $? "a log that cannot be written" 4 "record not appended to $work: Is a directory" "$record"
wait "$server"
server=
"$examples/log-arrivals.sh" "$url/board" log.csv >stdout 2>stderr
check $? "no service" 2 "log-arrivals.sh: fetching $url/board failed" "$record"

if command -v systemd-analyze >/dev/null; then
    # The units name the script where the manual installs it; here it is where it stands.
    mkdir units
    sed "s|/usr/local/share/quaywatch/log-arrivals.sh|$examples/log-arrivals.sh|" \
        "$examples/systemd/quaywatch-log.service" >units/quaywatch-log.service
    cp "$examples/systemd/quaywatch-log.timer" units/
    if systemd-analyze verify units/quaywatch-log.service units/quaywatch-log.timer; then
        echo "the systemd units verify"
    else
        failures=$((failures + 1))
    fi
fi
[ "$failures" = 0 ]
