#!/usr/bin/env bash
# The Windows build, checked on Linux: cross-compiles the mingw preset (the
# engine, the Win32 serial port, quillon-demo-device.exe, quillon-run.exe and
# the tests), runs the tests as Windows executables under Wine with CTest,
# and packs the ZIP for Windows users into build/mingw/package.
#
# The serial tests exchange bytes over COM11 to COM14, which Wine maps onto
# the ends of two pseudo-terminal pairs joined by socat (COM11 with COM12,
# COM13 with COM14). The Wine prefix lives in the build folder.
#
# Then, when Qt for Windows has been built on this machine
# (scripts/qt-for-windows.sh, once), the desktop program: the windows-desktop
# preset, its UI tests under Wine and quillon.exe on COM15, whose other end
# (COM16's pseudo-terminal) the test drives from Linux, under a virtual X
# server; and the ZIP with quillon.exe in build/windows-desktop/package.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/mingw
lines=$PWD/$build/lines
export WINEPREFIX=$PWD/$build/wine
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="

relays=()
cleanup() {
    for pid in "${relays[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

started=$SECONDS
# A new Wine prefix takes a while to make: it is made while the build runs.
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 &
booting=$!
cmake --preset mingw -DQUILLON_TEST_COM_PAIRS=11:12,13:14 "-DQUILLON_TEST_UNPLUG_DIR=Z:$lines"
cmake --build --preset mingw
wait "$booting"
built=$SECONDS

# The pseudo-terminal pairs; COM n is the link $lines/comn. A test pulls a
# pair's device out by leaving the file comPANEL.unplugged: the relay drops
# the pair until the file is gone, then makes it anew.
relay() {
    local panel=$1 device=$2 pid=""
    trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 0' TERM
    while true; do
        if [ ! -e "$lines/com$panel.unplugged" ]; then
            rm -f "$lines/com$panel" "$lines/com$device"
            socat pty,raw,echo=0,link="$lines/com$panel" pty,raw,echo=0,link="$lines/com$device" &
            pid=$!
            while [ ! -e "$lines/com$panel.unplugged" ] && kill -0 "$pid" 2>/dev/null; do
                sleep 0.05
            done
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            pid=""
        fi
        sleep 0.05
    done
}
mkdir -p "$lines"
rm -f "$lines"/com*
for pair in "11 12" "13 14" "15 16"; do
    relay $pair &
    relays+=($!)
done
for port in 11 12 13 14 15 16; do
    for _ in $(seq 50); do
        [ -e "$lines/com$port" ] && break
        sleep 0.1
    done
done

# Wine makes its COM ports from HKLM\Software\Wine\Ports when it starts (a
# link put into dosdevices by hand is replaced then), so the mapping goes into
# the registry and Wine is started afresh. A persistent wineserver keeps each
# test's start at a fraction of a second.
mapping=$(mktemp --suffix=.reg)
{
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for port in 11 12 13 14 15 16; do
        printf '"COM%s"="%s"\n' "$port" "$lines/com$port"
    done
} >"$mapping"
wine regedit /S "$(winepath -w "$mapping")" >/dev/null 2>&1
rm -f "$mapping"
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wineserver -p >/dev/null 2>&1
wineboot >/dev/null 2>&1

tested_from=$SECONDS
ctest --preset mingw
tested=$SECONDS
(cd "$build" && cpack -G ZIP -B package >/dev/null)
ls "$build"/package/*.zip
echo "windows check: $((SECONDS - started)) s (build $((built - started)) s, tests $((tested - tested_from)) s)"

if ! qt=$(scripts/qt-for-windows.sh --where); then
    echo "windows desktop: skipped, Qt for Windows is not built on this machine (scripts/qt-for-windows.sh builds it once into $qt, about an hour)"
    exit 0
fi
export QUILLON_QT_PREFIX=$qt
desktop_started=$SECONDS
# The desktop test compares quillon.exe's picture with the Linux program's.
linux_quillon=$PWD/build/ci/ui/quillon
if [ ! -x "$linux_quillon" ]; then
    cmake --preset ci >/dev/null
    cmake --build --preset ci --target quillon
fi
cmake --preset windows-desktop -DQUILLON_TEST_COM_PAIRS=11:12,13:14 "-DQUILLON_TEST_UNPLUG_DIR=Z:$lines" \
    "-DQUILLON_DESKTOP_TEST_LINE=15:$lines/com16" "-DQUILLON_LINUX_QUILLON=$linux_quillon"
cmake --build --preset windows-desktop
desktop_built=$SECONDS
# Wine takes its display when its server starts, so the server is started
# afresh on the virtual X server.
wineserver -k >/dev/null 2>&1 || true
wineserver -w
xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash -c 'wineserver -p >/dev/null 2>&1 && wineboot >/dev/null 2>&1 && ctest --preset windows-desktop'
desktop_tested=$SECONDS
(cd build/windows-desktop && cpack -G ZIP -B package >/dev/null)
ls build/windows-desktop/package/*.zip
echo "windows desktop check: $((SECONDS - desktop_started)) s (build $((desktop_built - desktop_started)) s, tests $((desktop_tested - desktop_built)) s)"
