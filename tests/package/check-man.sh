#!/bin/sh
# check-man.sh PAGE: the manual page lints clean and renders.
set -eu
page=$1
lint=$(mandoc -T lint "$page" 2>&1) || true
if [ -n "$lint" ]; then
    echo "$lint"
    exit 1
fi
rendered=$(MANPAGER=cat MANWIDTH=80 man -l "$page")
for text in "Kestrane: The file is not locked" "EXIT STATUS" "CAVEATS"; do
    echo "$rendered" | grep -q "$text" || { echo "rendered page lacks: $text"; exit 1; }
done
