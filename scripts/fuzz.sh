#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz and runs each for a fixed time.
#   scripts/fuzz.sh [seconds per target, default 600] [targets...]
# Findings (crashes, leaks, time-outs, oversized allocations) go to build-fuzz/findings/<target>/;
# copy each into tests/fuzz/regressions/<target>/ once fixed, where the normal suite replays it.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"manifest_mbdb manifest_db afc_reply plist_message vendor_answers"}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPACEWELL_FUZZ=ON >/dev/null
for t in $targets; do
    cmake --build build-fuzz --target "fuzz_$t"
done
for t in $targets; do
    work="build-fuzz/corpus/$t"
    findings="build-fuzz/findings/$t"
    mkdir -p "$work" "$findings"
    cp -n tests/fuzz/corpus/$t/* "$work"/ 2>/dev/null || true
    echo "== $t for $seconds s"
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        "./build-fuzz/tests/fuzz/fuzz_$t" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -malloc_limit_mb=256 -artifact_prefix="$findings/" -print_final_stats=1 2>&1 | tail -n 12
done
