#!/usr/bin/env bash
# Installs the programs and pages as a user would, then runs each installed program on an
# example and renders each installed page.
#
#   install_test.sh prefix BUILD_DIR SOURCE_DIR    cmake --install into a scratch prefix
#   install_test.sh package BUILD_DIR SOURCE_DIR   the Debian package, unpacked with dpkg-deb
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $mode in
prefix)
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    root=$scratch/prefix
    ;;
package)
    (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null)
    deb=$(ls "$scratch"/out/quaywatch_*.deb)
    dpkg-deb -f "$deb" Depends | grep -q 'libxml2' || { echo "no libxml2 dependency"; exit 1; }
    dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort >"$scratch/contents"
    printf '%s\n' ./usr/bin/quaywatch ./usr/bin/quaywatch2 ./usr/bin/quaywatch_per_station \
        ./usr/share/doc/quaywatch/changelog.gz ./usr/share/doc/quaywatch/copyright \
        ./usr/share/man/man1/quaywatch.1.gz ./usr/share/man/man1/quaywatch2.1.gz \
        ./usr/share/man/man1/quaywatch_per_station.1.gz | sort >"$scratch/expected-contents"
    diff -u "$scratch/expected-contents" "$scratch/contents"
    if command -v lintian >/dev/null; then
        # Informational tags pass, except those of the hardening flags.
        lintian --display-info "$deb" 2>/dev/null | tee "$scratch/lintian"
        if grep -qE '^[EW]: |hardening-' "$scratch/lintian"; then
            echo "lintian finds fault with the package"
            exit 1
        fi
    fi
    dpkg-deb -x "$deb" "$scratch/unpacked"
    root=$scratch/unpacked/usr
    ;;
*)
    echo "usage: install_test.sh prefix|package BUILD_DIR SOURCE_DIR" >&2
    exit 2
    ;;
esac

same_report() { # program arguments...: the installed program reports as the built one does
    local program=$1
    shift
    local status=0
    "$root/bin/$program" "$@" >"$scratch/installed.out" 2>&1 || status=$?
    [ "$status" = 1 ] || { echo "installed $program: exit status $status"; exit 1; }
    "$build/$program" "$@" >"$scratch/built.out" 2>&1 || true
    [ -s "$scratch/installed.out" ] || { echo "installed $program reported nothing"; exit 1; }
    cmp "$scratch/built.out" "$scratch/installed.out"
}
cd "$source/examples"
same_report quaywatch2 arriving.xml
same_report quaywatch board-indented.xml
same_report quaywatch_per_station board-compact.xml "$scratch/arrivals.csv"
[ -s "$scratch/arrivals.csv" ] || { echo "installed quaywatch_per_station wrote no record"; exit 1; }

for page in quaywatch quaywatch2 quaywatch_per_station; do
    MANWIDTH=80 man -l "$root/share/man/man1/$page.1.gz" >"$scratch/page" 2>"$scratch/page-errors"
    [ ! -s "$scratch/page-errors" ] || { cat "$scratch/page-errors"; exit 1; }
    grep -q 'EXIT STATUS' "$scratch/page" || { echo "$page.1.gz did not render"; exit 1; }
done
echo "installed by $mode: programs and pages work"
