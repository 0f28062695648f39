#!/bin/sh
# Stops with one line naming the Debian package to install when something the build needs is
# missing. With "test", also checks for what the test suite needs.
missing() {
    echo "quaywatch: $1 is missing: install the Debian package $2 (apt-get install $2)" >&2
    exit 1
}
command -v cmake >/dev/null 2>&1 || missing cmake cmake
command -v ninja >/dev/null 2>&1 || missing ninja ninja-build
command -v c++ >/dev/null 2>&1 || missing "a C++ compiler" g++
[ -f /usr/include/libxml2/libxml/parser.h ] || missing "the libxml2 headers" libxml2-dev
[ -f /usr/include/x86_64-linux-gnu/curl/curl.h ] || [ -f /usr/include/curl/curl.h ] ||
    missing "the libcurl headers" libcurl4-openssl-dev
if [ "${1:-}" = test ]; then
    [ -f /usr/include/gtest/gtest.h ] || missing GoogleTest libgtest-dev
fi
exit 0
