#!/usr/bin/env bash
# Builds the Debian package in a build folder of its own and checks it the way
# a user meets it: its contents and dependencies, the desktop entry and the
# AppStream metadata through the validators distributions use, the manual
# pages, and the installed programs run from the package unpacked into a
# temporary folder (never installed on this machine).
#
# Usage: scripts/package-check.sh [BUILD_DIR]   (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/package}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

fail() {
    echo "package check: $*" >&2
    exit 1
}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF
cmake --build "$build" -j 2
rm -f "$build"/quillon_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/quillon_*_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "expected one quillon_<version>_<arch>.deb in $build"
fi
deb=${debs[0]}

echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

# Dependencies come from the libraries the programs link, plus the Qt
# platform plugins the window cannot open without.
depends=$(dpkg-deb --field "$deb" Depends)
for needed in libc6 libqt6widgets6 qt6-qpa-plugins; do
    [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

dpkg-deb -x "$deb" "$stage/root"
root=$stage/root
for file in \
    usr/bin/quillon usr/bin/quillon-demo-device usr/bin/quillon-run \
    usr/share/applications/quillon.desktop \
    usr/share/metainfo/org.ostrel.quillon.metainfo.xml \
    usr/share/man/man1/quillon.1.gz usr/share/man/man1/quillon-demo-device.1.gz usr/share/man/man1/quillon-run.1.gz; do
    [ -e "$root/$file" ] || fail "the package has no /$file"
done
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/quillon.png" ] || fail "no ${size}x${size} icon"
done

# Installed programs must not look for libraries in the build folder.
for program in "$root"/usr/bin/*; do
    if readelf -d "$program" | grep -E 'R(UN)?PATH' | grep -q "$(pwd)"; then
        fail "$program keeps the build folder in its library path"
    fi
done

desktop-file-validate "$root/usr/share/applications/quillon.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ostrel.quillon.metainfo.xml"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

version=$(dpkg-deb --field "$deb" Version)
[ "$("$root/usr/bin/quillon" --version)" = "Quillon Version $version" ] || fail "quillon --version"
[ "$("$root/usr/bin/quillon-run" --version)" = "quillon-run $version" ] || fail "quillon-run --version"
"$root/usr/bin/quillon-demo-device" --help >/dev/null || fail "quillon-demo-device --help"

# The demo, drawn on the offscreen platform, with settings and the command
# socket of its own.
mkdir -m 700 "$stage/config" "$stage/runtime"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$stage/config" \
    XDG_RUNTIME_DIR="$stage/runtime" timeout 60 "$root/usr/bin/quillon" --demo --screenshot "$stage/demo.png"
# Width and height from the PNG header: the panel picture is 302 pixels wide.
read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$stage/demo.png")
if [ "$width" -ne 302 ] || [ "$height" -le 305 ]; then
    fail "demo screenshot is $width x $height"
fi

echo "package check passed: $deb ($(du -h "$deb" | cut -f1))"
