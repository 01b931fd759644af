#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, both framework builds
# with their backup tools, and the desktop files are where the program and the desktop look.
#   scripts/check-install.sh <build folder>
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/spacewell"
test -x "$prefix/bin/spacewell-cli"
frameworks=$(find "$prefix" -type d -path '*/spacewell/frameworks' | head -n 1)
for build_kind in usbmux sim; do
    test -f "$frameworks/$build_kind/libiTunesMobileDevice.so"
    test -x "$frameworks/$build_kind/AppleMobileBackup"
done
test -f "$prefix/share/applications/com.vantelmoor.Spacewell.desktop"
test -f "$prefix/share/metainfo/com.vantelmoor.Spacewell.metainfo.xml"
test -f "$prefix/share/icons/hicolor/128x128/apps/com.vantelmoor.Spacewell.png"
# The installed program finds its framework folder on its own: it starts without the warning
# that the framework is missing (a log line says which library failed when it does).
home=$(mktemp -d)
HOME="$home" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/spacewell" >/dev/null 2>&1 || true
if grep -rqs "iTunesMobileDevice" "$home/data"; then
    echo "the installed program did not load its framework:" >&2
    grep -rh "iTunesMobileDevice" "$home/data" >&2
    rm -rf "$home"
    exit 1
fi
rm -rf "$home"
echo "install layout ok ($frameworks)"
