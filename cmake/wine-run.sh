#!/bin/sh
# wine-run.sh WINE PROGRAM [ARGS...]: runs a Windows program of the build
# under Wine, in a prefix inside the current build tree, made on first use.
# wine-run.sh WINE --start: keeps that prefix's Wine server running, so that
#   each program does not pay for starting one (about 3 s).
# wine-run.sh WINE --stop: stops it again.
set -e
wine=$1
shift
build_dir=$(pwd)
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != / ]; do
    build_dir=$(dirname "$build_dir")
done
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    echo "wine-run.sh: run me inside a build tree" >&2
    exit 2
fi
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
for server in "$(dirname "$(readlink -f "$(command -v "$wine")")")/wineserver" \
    /usr/lib/wine/wineserver; do
    [ -x "$server" ] && break
done

if [ "$1" = --stop ]; then
    "$server" -k 2>/dev/null || true # none running: nothing to stop
    exit 0
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Several tests may start at once; one of them makes the prefix.
    mkdir -p "$WINEPREFIX"
    flock "$WINEPREFIX/.lock" sh -c \
        '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot -i >/dev/null 2>&1' "$wine"
fi
case $1 in
--start)
    "$server" -p </dev/null >/dev/null 2>&1
    # The first program starts Wine's background services, which would keep
    # its standard output open; let that be /dev/null, not a test's pipe.
    exec "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1
    ;;
esac
exec "$wine" "$@"
