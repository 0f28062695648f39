#!/bin/sh
# Runs each tool on the bundled examples and shows what it reports.
build=${1:-build}
run() {
    echo "\$ $*"
    "$build/$@"
    echo "(exit status $?)"
    echo
}
run quaywatch2 examples/arriving.xml
run quaywatch2 examples/departed.xml
