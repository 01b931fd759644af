#!/bin/sh
# Saves screenshots of the program on the demo device: the main window with the device selected,
# the window after each panel's Scan, a progress dialog during a backup, and the closing message
# of a Free Up.
#   scripts/screenshots.sh [output folder]     (default: build/screenshots)
set -eu
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
cmake --build build --target spacewell-screenshots spacewell-demo-device spacewell_framework_sim spacewell_backuptool_sim
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
./build/scripts/demo/spacewell-demo-device "$demo" >/dev/null
SPACEWELL_FRAMEWORK_DIR="$PWD/build/frameworks/sim" SPACEWELL_SIM_ROOT="$demo" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    ./build/scripts/demo/spacewell-screenshots "$out"
ls -1 "$out"
