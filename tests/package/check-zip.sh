#!/bin/sh
# check-zip.sh BUILD_DIR: builds the Windows zip and looks inside: the
# executable and a plain-text readme with CR LF line ends, nothing else.
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack -G ZIP -B "$tmp" --config "$build/CPackConfig.cmake" >/dev/null
zip=$tmp/Kestrn-1.00-win32.zip
listed=$(cmake -E tar tf "$zip" | sort)
if [ "$listed" != "Kestrn.exe
README.txt" ]; then
    echo "unexpected contents:"
    echo "$listed"
    exit 1
fi
mkdir "$tmp/x"
(cd "$tmp/x" && cmake -E tar xf "$zip")
lines=$(wc -l <"$tmp/x/README.txt")
crlf=$(grep -c "$(printf '\r')\$" "$tmp/x/README.txt")
test "$lines" -gt 10
test "$lines" = "$crlf" || { echo "$crlf of $lines lines end in CR LF"; exit 1; }
