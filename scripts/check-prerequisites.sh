#!/bin/sh
# Stops with one line naming the Debian package to install when something the build needs is
# missing. With "test", also checks for what the test suite needs. Headers are looked for by the
# compiler itself, which knows where this machine's architecture keeps them.
missing() {
    echo "quaywatch: $1 is missing: install the Debian package $2 (apt-get install $2)" >&2
    exit 1
}
# True when the compiler finds the header, with the flags given.
has_header() { # HEADER [FLAGS...]
    header=$1
    shift
    printf '#include <%s>\n' "$header" | c++ -E -x c++ "$@" - >/dev/null 2>&1
}
command -v cmake >/dev/null 2>&1 || missing cmake cmake
command -v ninja >/dev/null 2>&1 || missing ninja ninja-build
command -v c++ >/dev/null 2>&1 || missing "a C++ compiler" g++
command -v pkg-config >/dev/null 2>&1 || missing pkg-config pkgconf
# shellcheck disable=SC2046
has_header libxml/parser.h $(pkg-config --cflags libxml-2.0 2>/dev/null || echo -I/usr/include/libxml2) || missing "the libxml2 headers" libxml2-dev
has_header curl/curl.h || missing "the libcurl headers" libcurl4-openssl-dev
has_header idn2.h || missing "the libidn2 headers" libidn2-dev
if [ "${1:-}" = test ]; then
    has_header gtest/gtest.h || missing GoogleTest libgtest-dev
fi
exit 0
