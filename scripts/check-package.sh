#!/bin/sh
# Builds the Debian package from a build folder, unpacks it into a scratch root and checks it:
# its dependencies, its files, the desktop entry and AppStream metadata by their validators, and
# the unpacked program started offscreen on the demo phones with the packaged simulated framework,
# and the unpacked command line on the same phones.
#   scripts/check-package.sh <build folder>
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
deb=$(ls "$work"/out/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for needed in usbmuxd libimobiledevice-utils libimobiledevice6 libusbmuxd6 libplist3 libqt6widgets6 \
    libqt6network6 libsqlite3-0; do
    case ", $depends," in
    *", $needed"[\ ,]*) ;;
    *)
        echo "Depends lacks $needed: $depends" >&2
        exit 1
        ;;
    esac
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
test -x "$root/usr/bin/spacewell"
frameworks=$(find "$root/usr" -type d -path '*/spacewell/frameworks' | head -n 1)
for kind in usbmux sim; do
    test -f "$frameworks/$kind/libiTunesMobileDevice.so"
    test -x "$frameworks/$kind/AppleMobileBackup"
done
test -f "$root/usr/share/icons/hicolor/128x128/apps/com.vantelmoor.Spacewell.png"
test -f "$root/usr/share/icons/hicolor/scalable/apps/com.vantelmoor.Spacewell.svg"
desktop-file-validate "$root/usr/share/applications/com.vantelmoor.Spacewell.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.vantelmoor.Spacewell.metainfo.xml"

# The unpacked program: its own options, then its window on the demo phones.
test "$("$root/usr/bin/spacewell" --version)" = "spacewell $(dpkg-deb -f "$deb" Version)"
"$build/scripts/demo/spacewell-demo-device" "$work/demo" >/dev/null
home="$work/home"
mkdir -p "$home"
status=0
HOME="$home" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen SPACEWELL_VENDOR_URL=http://127.0.0.1:9 \
    SPACEWELL_FRAMEWORK_DIR="$frameworks/sim" SPACEWELL_SIM_ROOT="$work/demo" \
    timeout 5 "$root/usr/bin/spacewell" >"$work/run.log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
    echo "the unpacked program ended on its own (status $status):" >&2
    cat "$work/run.log" >&2
    exit 1
fi
if ! grep -rqs "A device arrived." "$home/data"; then
    echo "the unpacked program showed no demo phone; its log:" >&2
    find "$home/data" -name 'log-*' -exec cat {} + >&2
    exit 1
fi
# The unpacked command line lists the same demo phones, and links no widgets.
if ldd "$root/usr/bin/spacewell-cli" | grep -q 'libQt6\(Widgets\|Gui\)'; then
    echo "spacewell-cli links Qt Widgets or Gui:" >&2
    ldd "$root/usr/bin/spacewell-cli" >&2
    exit 1
fi
HOME="$home" XDG_DATA_HOME="$home/data" SPACEWELL_FRAMEWORK_DIR="$frameworks/sim" SPACEWELL_SIM_ROOT="$work/demo" \
    "$root/usr/bin/spacewell-cli" devices --json >"$work/devices.json"
if ! grep -q '"udid"' "$work/devices.json"; then
    echo "the unpacked spacewell-cli listed no demo phone:" >&2
    cat "$work/devices.json" >&2
    exit 1
fi
echo "package ok: $(basename "$deb")"
