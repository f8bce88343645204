#!/usr/bin/env bash
# Installs what the tests need on a Debian machine (run as root), builds
# every configuration and runs every test. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends cmake g++ make googletest util-linux

cmake --preset native
cmake --build --preset native
ctest --preset native
