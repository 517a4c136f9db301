#!/usr/bin/env bash
# Installs the Debian 12 packages Quillon needs to build, test and run.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libgl-dev
    xvfb xauth
    clang-14 libclang-rt-14-dev llvm-14
    # scripts/bench.sh times the program's ticks with perf's uprobes
    linux-perf
    # the headless runner: scenario files, JSON, PNG pictures, command lines (the
    # demo device's too; header-only, so the Windows build takes them as well),
    # the pytest example; zlib writes the PNG files of the runner's tests
    libyaml-cpp-dev nlohmann-json3-dev libstb-dev libcli11-dev zlib1g-dev python3-pytest
    libgif-dev  # the film of the display (--record-display)
    desktop-file-utils appstream help2man dpkg-dev  # the Debian package and its checks (package-check.sh)
    g++-mingw-w64-x86-64-posix wine wine64 socat  # Windows build, Wine tests (windows-check.sh)
    x11-utils  # xwininfo: the message box quillon.exe shows under Wine
    gcc-arm-none-eabi qemu-system-arm  # the example firmware, built and run under QEMU by the tests
    # the HTML report opened in a headless browser by the tests (the plain ci pass
    # only), its pictures decoded
    chromium chromium-driver python3-selenium python3-pil
    # the web server of --http (Boost.Beast and Asio, header-only), and its
    # tests' WebSocket clients and curl
    libboost-dev python3-websockets curl
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
