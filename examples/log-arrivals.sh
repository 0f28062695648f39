#!/usr/bin/env bash
# Asks a board service for its reply and logs the train at the platform, if there is one.
#
#   log-arrivals.sh [-a SOAPACTION] URL CSV [REQUEST]
#
# POSTs the SOAP request (request.xml beside this script, unless REQUEST names another) to URL
# with the SOAPAction header SOAPACTION, sent as given, quotes and all (by default
# "urn:example:board#getBoard", the operation of request.xml), and hands the reply to
# quaywatch_per_station, which appends the arriving mission to CSV.
# The exit status is the usual one, not the tool's reversed one:
#   0  the reply was read: its arriving mission was logged, or there was none
#   1  wrong arguments
#   2  the fetch failed (no connection, a time-out)
#   3  the reply was refused: a service fault, an HTTP error page, not a board, a reply whose
#      missions are not where the tool looks for them
#   4  the record could not be appended to CSV (the reason is on standard error)
set -u
usage() {
    echo "usage: log-arrivals.sh [-a SOAPACTION] URL CSV [REQUEST]" >&2
    exit 1
}
# The operation the service is asked for, as its description (WSDL) names it.
soap_action='"urn:example:board#getBoard"'
while getopts a: option; do
    case $option in
    a) soap_action=$OPTARG ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    usage
fi
url=$1
csv=$2
request=${3:-$(dirname "$0")/request.xml}

errors=$(mktemp) || exit 2
trap 'rm -f "$errors"' EXIT
# A SOAP service answers a failure with HTTP status 500 and a Fault in the body: the body goes
# to the tool all the same, which reports the fault.
curl --silent --show-error --max-time 60 --request POST \
    --header 'Content-Type: text/xml; charset=utf-8' --header "SOAPAction: $soap_action" \
    --data-binary @"$request" "$url" |
    quaywatch_per_station - "$csv" 2>"$errors"
statuses=("${PIPESTATUS[@]}")
cat "$errors" >&2

if [ "${statuses[0]}" -ne 0 ]; then
    echo "log-arrivals.sh: fetching $url failed" >&2
    exit 2
fi
if [ "${statuses[1]}" -ne 1 ]; then
    exit 3
fi
# A reply of a layout the tool does not read must not pass for a board with no train.
if grep -q -x -e 'no mission list in document' -e 'arriving mission outside the mission list' \
    "$errors"; then
    exit 3
fi
if grep -q '^record not appended to ' "$errors"; then
    exit 4
fi
exit 0
