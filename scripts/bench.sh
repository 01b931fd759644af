#!/bin/sh
# Builds the benchmarks in Release and runs them; each prints its figures, their targets and the
# machine. Nothing here is a test: the figures are read, never asserted.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja
fi
cmake --build "$BUILD_DIR" --target bench
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench-release/bench/bench_cleaners" "$@"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench-release/bench/bench_afc"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench-release/bench/bench_freeup"
