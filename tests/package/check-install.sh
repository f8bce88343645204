#!/bin/sh
# check-install.sh BUILD_DIR: installs into a temporary prefix and runs the
# installed tool on a free file and on a file another process holds.
set -eu
build=$1
tmp=$(mktemp -d)
holder=
trap '[ -z "$holder" ] || kill "$holder"; rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
tool=$tmp/prefix/bin/Kestrn
test -x "$tool"
test -f "$tmp/prefix/share/man/man1/Kestrn.1"

echo data >"$tmp/file"
"$tool" "$tmp/file" >"$tmp/out"
printf '\r\nKestrane: The file is not locked\r\n' | cmp - "$tmp/out"

sleep 60 3<"$tmp/file" &
holder=$!
while [ ! -e "/proc/$holder/fd/3" ]; do sleep 0.01; done
rc=0
"$tool" "$tmp/file" >"$tmp/out" || rc=$?
test "$rc" = 1
printf '\r\nKestrane: The file does not exist or is locked by another process\r\n' | cmp - "$tmp/out"
