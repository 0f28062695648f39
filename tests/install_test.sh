#!/usr/bin/env bash
# Installs the programs, the logger and the pages into a scratch prefix as a user would, then
# runs each installed program on an example and renders each installed page.
#
#   install_test.sh prefix BUILD_DIR SOURCE_DIR
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

[ "$mode" = prefix ] || { echo "usage: install_test.sh prefix BUILD_DIR SOURCE_DIR" >&2; exit 2; }
# Staged under a folder of its own, as a package is: a unit folder configured outside the
# prefix (a package's /lib/systemd/system) lands in the stage too, never on this machine.
prefix=/opt/quaywatch-test
stage=$scratch/stage
# Run from a folder of its own, which the install must leave as it found it.
mkdir "$scratch/cwd"
(cd "$scratch/cwd" && DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null)
[ -z "$(ls -A "$scratch/cwd")" ] ||
    { echo "the install wrote into the folder it ran from: $(ls -A "$scratch/cwd")"; exit 1; }
root=$stage$prefix
# The units are looked for apart, wherever the unit folder lies.
(cd "$root" && find . -type f -not -path '*/systemd/system/*' | sort) >"$scratch/contents"
printf '%s\n' ./bin/quaywatch ./bin/quaywatch2 ./bin/quaywatch_per_station ./bin/quaywatch-log \
    ./share/man/man1/quaywatch.1.gz ./share/man/man1/quaywatch2.1.gz \
    ./share/man/man1/quaywatch_per_station.1.gz ./share/man/man1/quaywatch-log.1.gz \
    ./share/quaywatch/board.conf ./share/quaywatch/request.xml ./share/quaywatch/request12.xml \
    ./share/doc/quaywatch/examples/wrap-bare-reply.xsl \
    ./share/doc/quaywatch/examples/board-indented.xml ./share/doc/quaywatch/examples/board-compact.xml \
    ./share/doc/quaywatch/examples/arriving.xml ./share/doc/quaywatch/examples/departed.xml |
    sort >"$scratch/expected-contents"
units=$(find "$stage" -path '*/systemd/system/*' -type f | sort)
[ "$(basename -a $units | tr '\n' ' ')" = "quaywatch-log@.service quaywatch-log@.timer " ] ||
    { echo "the systemd units are not installed: $units"; exit 1; }
diff -u "$scratch/expected-contents" "$scratch/contents"
# The installed logger finds the installed request (so that only the fetch fails, with nobody
# at the address), and its unit runs the installed logger.
status=0
"$root/bin/quaywatch-log" http://127.0.0.1:1/board "$scratch/log.csv" 2>"$scratch/logger-errors" ||
    status=$?
[ "$status" = 2 ] || { echo "the installed quaywatch-log gave status $status:"; cat "$scratch/logger-errors"; exit 1; }
grep -q '^ExecStart='"$prefix"'/bin/quaywatch-log -c "${CREDENTIALS_DIRECTORY}/board.conf"$' \
    "$(echo "$units" | grep 'service$')" ||
    { echo "the installed unit does not run the installed quaywatch-log"; exit 1; }

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

for page in quaywatch quaywatch2 quaywatch_per_station quaywatch-log; do
    MANWIDTH=80 man -l "$root/share/man/man1/$page.1.gz" >"$scratch/page" 2>"$scratch/page-errors"
    [ ! -s "$scratch/page-errors" ] || { cat "$scratch/page-errors"; exit 1; }
    grep -q 'EXIT STATUS' "$scratch/page" || { echo "$page.1.gz did not render"; exit 1; }
done
echo "installed by $mode: programs and pages work"
