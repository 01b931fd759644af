#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan and runs
# every test there; any finding, leaks included, fails the run. Expects scripts/install-deps.sh
# to have run.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=build-asan BUILD_TYPE=Debug ./scripts/build.sh -DSPACEWELL_SANITIZE=ON
cd build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error --parallel 2
