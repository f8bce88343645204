#!/usr/bin/env bash
# Builds the Linux .deb and the Windows zip on a Debian machine (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends \
    cmake g++ make googletest dpkg-dev g++-mingw-w64-i686

cmake --preset native
cmake --build --preset native
cpack --preset deb

cmake --preset windows-i686 -DKESTRN_WINE_TESTS=OFF
cmake --build --preset windows-i686
cpack --preset windows-zip

ls -l build/native/kestrn_1.00_*.deb build/windows-i686/Kestrn-1.00-win32.zip
