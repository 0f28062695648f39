#!/bin/sh
# Runs each tool on the bundled examples and shows what it reports. The CSV file is started
# afresh in the build folder, then written to twice, to show it growing from run to run.
build=${1:-build}
csv=$build/demo-arrivals.csv
run() {
    echo "\$ $*"
    "$build/$@"
    echo "(exit status $?)"
    echo
}
rm -f "$csv"
run quaywatch2 examples/arriving.xml
run quaywatch2 examples/departed.xml
run quaywatch examples/board-indented.xml
run quaywatch_per_station examples/board-compact.xml "$csv"
run quaywatch_per_station examples/board-compact.xml "$csv"
echo "\$ cat $csv"
cat "$csv"
echo
