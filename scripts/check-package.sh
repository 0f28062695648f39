#!/usr/bin/env bash
# Builds the Debian package from this tree as a packager would, checks it with lintian and blhc,
# installs it and runs its autopkgtest on this machine, then purges it and looks for anything
# of it left behind. Run as root (CI does), from the top of a clean tree; what dpkg-buildpackage
# makes lands in the folder above.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(dpkg-parsechangelog -S Version)
architecture=$(dpkg --print-architecture)
log=../quaywatch_${version}_${architecture}.build

if ! dpkg-buildpackage -us -uc -b >"$log" 2>&1; then
    tail -n 80 "$log"
    exit 1
fi
grep -E '^(dpkg-buildpackage: info: |   dh_auto_test)|tests passed' "$log"
changes=../quaywatch_${version}_${architecture}.changes

echo "== lintian"
lintian --fail-on error,warning --display-info "$changes"
echo "== blhc"
blhc "$log"
echo "== autopkgtest"
autopkgtest --quiet . "../quaywatch_${version}_${architecture}.deb" -- null

echo "== purge"
dpkg -L quaywatch | sort >../quaywatch.files
apt-get purge -y quaywatch >/dev/null
left=()
while IFS= read -r path; do
    # Folders that other packages share stay; the package's own files and folders go.
    case $path in
    /. | /etc | /lib | /lib/systemd | /lib/systemd/system | /usr | /usr/bin | /usr/lib | /usr/share | \
        /usr/share/doc | /usr/share/man | /usr/share/man/man1) continue ;;
    esac
    [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done <../quaywatch.files
if [ ${#left[@]} -gt 0 ]; then
    printf 'left after the purge: %s\n' "${left[@]}"
    exit 1
fi
echo "purged: none of the package's $(wc -l <../quaywatch.files) paths is left"
