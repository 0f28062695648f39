#!/usr/bin/env bash
# Fails on any warning groff gives for a manual page.
set -u
status=0
for page in "$@"; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "$warnings"
        status=1
    fi
done
exit $status
