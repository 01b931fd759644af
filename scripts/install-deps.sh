#!/bin/sh
# Installs every Debian package that building, running and testing the program needs.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    ca-certificates cmake ninja-build g++ pkg-config \
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools \
    libqt6opengl6-dev libgl-dev libvulkan-dev libxkbcommon-dev \
    libsqlite3-dev sqlite3 libssl-dev libplist-dev libimobiledevice-dev libusbmuxd-dev libimobiledevice-utils usbmuxd \
    fonts-dejavu-core dpkg-dev file desktop-file-utils appstream python3 python3-pycryptodome
