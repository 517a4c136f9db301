# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix
# thread model, which std::thread and std::jthread need), into executables
# that carry their C and C++ runtimes so they run from a ZIP with no DLLs
# beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLON_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLET}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and headers come from the mingw sysroot and from the prefix the
# build itself fills (yaml-cpp and GoogleTest, built with this file, and the
# header-only libraries); programs from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
