# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix
# thread model, which std::thread and std::jthread need), into executables
# that carry their C and C++ runtimes so they run from a ZIP with no DLLs
# beside them. With QUILLON_MINGW_SHARED_RUNTIME on (Qt's DLLs and the
# desktop program linked against them), the runtimes are DLLs too, so Qt and
# the program share one copy of them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLON_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLET}-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLON_MINGW_SHARED_RUNTIME)
if(NOT QUILLON_MINGW_SHARED_RUNTIME)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()

# Libraries and headers come from the mingw sysroot and from the prefix the
# build itself fills (yaml-cpp and GoogleTest, built with this file, and the
# header-only libraries); programs from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Qt for Windows (scripts/qt-for-windows.sh) is found in its own folder; its
# tools (moc, rcc, uic) are the build machine's, from Debian's Qt of the same
# version.
if(QUILLON_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QUILLON_QT_PREFIX})
    set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt is")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Where its CMake files are")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLON_QT_PREFIX)
