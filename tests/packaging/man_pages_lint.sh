#!/usr/bin/env bash
# The manual pages pass mandoc's checker (or groff's warnings) without a word.
#   man_pages_lint.sh PAGE...
set -uo pipefail
if command -v mandoc > /dev/null; then
    check() { mandoc -T lint -W warning "$1"; }
elif command -v groff > /dev/null; then
    check() { groff -man -ww -z "$1" 2>&1; }
else
    echo "neither mandoc nor groff installed: not checked"
    exit 77
fi
status=0
for page in "$@"; do
    said=$(check "$page")
    if [ -n "$said" ]; then
        echo "$said"
        status=1
    fi
done
exit $status
