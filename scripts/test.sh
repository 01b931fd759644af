#!/bin/sh
# Sets the machine up, builds, and runs every test headless.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
cd "${BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error --parallel 2
