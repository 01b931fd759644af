#!/bin/sh
# Sets the machine up, builds, and starts the program: on a real phone when one is attached
# (usbmuxd answers and lists it), otherwise on the bundled demo device.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting on Qt's offscreen platform (the window is not visible)."
    export QT_QPA_PLATFORM=offscreen
fi
if timeout 5 idevice_id -l 2>/dev/null | grep -q .; then
    echo "A phone is attached: starting on the real device framework."
else
    ./build/scripts/demo/spacewell-demo-device "$PWD/build/demo"
    export SPACEWELL_FRAMEWORK_DIR="$PWD/build/frameworks/sim"
    export SPACEWELL_SIM_ROOT="$PWD/build/demo"
    echo "No phone attached: starting on the demo devices (Demo iPhone on iOS 9, Demo iPhone 12 on iOS 14)."
fi
exec ./build/spacewell
