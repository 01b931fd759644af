#!/bin/sh
# Sets the machine up, builds in Release into ./build-release and makes the Debian package there.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR=build-release BUILD_TYPE=Release ./scripts/build.sh
cd build-release
cpack -G DEB
echo "Install it with: sudo apt install ./build-release/$(ls -t ./*.deb | head -n 1 | xargs basename)"
