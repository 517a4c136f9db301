#!/usr/bin/env bash
# Qt 6 for Windows, cross-built once per machine from Debian's own qt6-base
# source with Debian's mingw-w64, for the desktop program's Windows build.
# Only what Quillon needs is built: Core, Gui, Widgets, Network (the command
# socket's QLocalServer), Test (the UI tests), the windows and offscreen
# platform plugins, with Qt's bundled zlib, PNG, FreeType, HarfBuzz and PCRE2.
# Qt is built as DLLs, so a user of the ZIP can replace them with another
# build of the same Qt, as Qt's licence asks of a program linked with it.
#
# The install is kept outside the repository in a folder named for the
# source version and a hash of these options, and used again whenever it is
# there; the build tree is removed once it is installed. Prints the folder.
#
#   scripts/qt-for-windows.sh          build it if missing, print the folder
#   scripts/qt-for-windows.sh --where  print the folder, exit 1 if not built
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cache=${QUILLON_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillon}
version=6.4.2
options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQUILLON_MINGW_SHARED_RUNTIME=ON
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_xml=OFF
    -DFEATURE_printsupport=OFF
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF
    # Debian's source leaves out the Wintab headers the tablet support needs.
    -DFEATURE_tabletevent=OFF
    -DFEATURE_openssl=OFF -DFEATURE_dtls=OFF
    -DFEATURE_jpeg=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_png=ON -DFEATURE_system_png=OFF
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF
    -DFEATURE_harfbuzz=ON -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_pcre2=ON -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
)
# Without Direct2D, Qt's Gui leaves out its DirectWrite font database, but
# the windows platform plugin still asks for it and fails to link: the plugin
# is told to do without it, as Gui does.
patch_plugin='s/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/'
hash=$(printf "%s\n" "$version" "${options[@]}" "$patch_plugin" | sha256sum | cut -c1-12)
prefix=$cache/qt-$version-mingw-$hash

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi
if [ "${1:-}" = "--where" ]; then
    echo "$prefix"
    exit 1
fi

scripts/install-deps.sh >&2
started=$SECONDS
# The build tree stays until Qt is installed, so a build that was stopped
# goes on where it was at the next run.
work=$cache/qt-build-$version-$hash
if [ ! -f "$work/build/build.ninja" ]; then
    download=$cache/downloads/qt6-base
    tarball=$(ls "$download"/qt6-base_"$version"*.orig.tar.* 2>/dev/null || cmake/debian-source.sh qt6-base "$download")
    rm -rf "$work"
    mkdir -p "$work"
    tar -xf "$tarball" -C "$work"
    source=$(echo "$work"/qtbase-everywhere-src-*)
    sed -i "$patch_plugin" "$source/src/plugins/platforms/windows/qwindowsintegration.cpp"
    echo "Configuring Qt $version for Windows in $work" >&2
    nice -n 10 cmake -S "$source" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        "${options[@]}" >"$work/configure.log" 2>&1 || {
        tail -40 "$work/configure.log" >&2
        rm -rf "$work/build"
        exit 1
    }
fi
echo "Building Qt $version for Windows into $prefix (an hour or more on two cores; log: $work/build.log)" >&2
nice -n 10 cmake --build "$work/build" --parallel "$(nproc)" >>"$work/build.log" 2>&1 || {
    tail -40 "$work/build.log" >&2
    exit 1
}
rm -rf "$prefix"
cmake --install "$work/build" --prefix "$prefix" >/dev/null
# The C and C++ runtimes Qt's DLLs were linked against go beside them.
cp /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libstdc++-6.dll \
    /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libgcc_s_seh-1.dll \
    /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/bin/"
echo "$((SECONDS - started)) s, $(du -sh "$prefix" | cut -f1)" >"$prefix/.complete"
rm -rf "$(readlink -f "$work")" "$work"
echo "Qt for Windows is in $prefix ($(cat "$prefix/.complete") for this run)" >&2
echo "$prefix"
