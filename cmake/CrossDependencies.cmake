# The libraries a Windows build needs that Debian has no mingw build of,
# built at configure time with the same toolchain into the build folder:
# yaml-cpp (for quillon-run) and giflib (the display's film, with a few lines
# of CMake of ours in cmake/giflib, as giflib has only a Makefile) from
# Debian's own source packages, and GoogleTest
# (for the tests) from the sources Debian installs in /usr/src/googletest.
# Each is built once per build folder. The header-only libraries are Debian's
# own headers, copied into the same prefix: the toolchain searches only its
# sysroot and the prefix, and the rest of the build machine's /usr/include
# must stay out of a Windows build.
set(QUILLON_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
set(QUILLON_DEPS_PREFIX ${QUILLON_DEPS_DIR}/install)

function(quillon_build_dependency name source_dir)
    set(stamp ${QUILLON_DEPS_DIR}/${name}.built)
    if(EXISTS ${stamp})
        return()
    endif()
    message(STATUS "Building ${name} for Windows")
    set(build_dir ${QUILLON_DEPS_DIR}/${name}-build)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${source_dir} -B ${build_dir} -G ${CMAKE_GENERATOR}
                -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_INSTALL_PREFIX=${QUILLON_DEPS_PREFIX} ${ARGN}
        OUTPUT_QUIET RESULT_VARIABLE failed)
    if(NOT failed)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${build_dir} --parallel 2 --target install
                        OUTPUT_QUIET RESULT_VARIABLE failed)
    endif()
    if(failed)
        message(FATAL_ERROR "${name} could not be built for Windows; see ${build_dir}")
    endif()
    file(TOUCH ${stamp})
endfunction()

# Unpacks the upstream tarball of Debian's source package into folder, once.
function(quillon_debian_source package folder)
    if(EXISTS ${folder})
        return()
    endif()
    execute_process(
        COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/debian-source.sh ${package} ${QUILLON_DEPS_DIR}/download
        OUTPUT_VARIABLE tarball OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Debian's ${package} source package could not be downloaded")
    endif()
    file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${QUILLON_DEPS_DIR}/${package}-unpacked)
    file(GLOB unpacked ${QUILLON_DEPS_DIR}/${package}-unpacked/*)
    file(RENAME ${unpacked} ${folder})
endfunction()

if(QUILLON_BUILD_RUNNER)
    set(yaml_source ${QUILLON_DEPS_DIR}/yaml-cpp)
    quillon_debian_source(yaml-cpp ${yaml_source})
    quillon_build_dependency(yaml-cpp ${yaml_source}
        -DYAML_CPP_BUILD_TESTS=OFF -DYAML_CPP_BUILD_TOOLS=OFF -DYAML_CPP_BUILD_CONTRIB=OFF
        -DYAML_BUILD_SHARED_LIBS=OFF)
endif()

set(giflib_source ${QUILLON_DEPS_DIR}/giflib)
quillon_debian_source(giflib ${giflib_source})
quillon_build_dependency(giflib ${CMAKE_CURRENT_LIST_DIR}/giflib -DGIFLIB_SOURCE=${giflib_source})

if(QUILLON_BUILD_TESTS)
    quillon_build_dependency(googletest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON)
endif()

foreach(headers IN ITEMS nlohmann CLI stb)
    if(NOT IS_DIRECTORY /usr/include/${headers})
        message(FATAL_ERROR "/usr/include/${headers} is missing; scripts/install-deps.sh installs it")
    endif()
    file(COPY /usr/include/${headers} DESTINATION ${QUILLON_DEPS_PREFIX}/include)
endforeach()
# Boost's headers (Beast and Asio for the web server) are many: linked, not
# copied. Without them the build leaves the web server out.
if(IS_DIRECTORY /usr/include/boost AND NOT EXISTS ${QUILLON_DEPS_PREFIX}/include/boost)
    file(CREATE_LINK /usr/include/boost ${QUILLON_DEPS_PREFIX}/include/boost SYMBOLIC)
endif()

list(APPEND CMAKE_FIND_ROOT_PATH ${QUILLON_DEPS_PREFIX})
list(APPEND CMAKE_PREFIX_PATH ${QUILLON_DEPS_PREFIX})
