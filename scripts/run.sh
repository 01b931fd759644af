#!/bin/sh
# Sets the machine up, builds, and starts the program.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting on Qt's offscreen platform (the window is not visible)."
    export QT_QPA_PLATFORM=offscreen
fi
exec ./build/spacewell
