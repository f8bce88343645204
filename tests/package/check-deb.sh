#!/bin/sh
# check-deb.sh BUILD_DIR: builds the .deb and looks inside: the right name,
# version and description, and nothing but the tool and its manual page.
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack -G DEB -B "$tmp" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$tmp"/kestrn_1.00_*.deb)
dpkg-deb --info "$deb" >"$tmp/info"
for field in " Package: kestrn" " Version: 1.00" " Section: utils" \
    " Description: tell whether a file can be opened with exclusive access"; do
    grep -qx "$field" "$tmp/info" || { cat "$tmp/info"; echo "missing: $field"; exit 1; }
done
files=$(dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$')
expected="./usr/bin/Kestrn
./usr/share/man/man1/Kestrn.1"
if [ "$files" != "$expected" ]; then
    echo "unexpected contents:"
    echo "$files"
    exit 1
fi
