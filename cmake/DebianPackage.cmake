# Installing and packaging on Linux: manual pages written by help2man from
# the programs' own --help (so they never drift from it), and a Debian
# package built by CPack whose dependencies dpkg-shlibdeps reads from the
# libraries the programs link. `cpack -G DEB` in the build folder makes it;
# scripts/package-check.sh builds and checks it.
include(GNUInstallDirs)

# The pages are written by running the programs, so only in release builds,
# which packages and installs are made from: sanitizer and fuzzer builds run
# their programs under checks of their own.
find_program(QUILLON_HELP2MAN help2man)
find_program(QUILLON_GZIP gzip)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    message(STATUS "Manual pages are written in release builds only")
elseif(QUILLON_HELP2MAN AND QUILLON_GZIP)
    set(man_pages)
    foreach(program IN ITEMS quillon quillon-demo-device quillon-run)
        if(NOT TARGET ${program})
            continue()
        endif()
        set(page "${CMAKE_BINARY_DIR}/man/${program}.1")
        set(include "${CMAKE_SOURCE_DIR}/man/${program}.h2m")
        add_custom_command(
            OUTPUT "${page}.gz"
            COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/man"
            COMMAND "${QUILLON_HELP2MAN}" --no-info --no-discard-stderr --section=1
                    "--version-string=${PROJECT_VERSION}" "--include=${include}" "--output=${page}"
                    "$<TARGET_FILE:${program}>"
            COMMAND "${QUILLON_GZIP}" -9 -n -f "${page}"
            DEPENDS ${program} "${include}"
            COMMENT "Writing the manual page of ${program}"
            VERBATIM
        )
        list(APPEND man_pages "${page}.gz")
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
    message(STATUS "help2man or gzip not found: no manual pages (scripts/install-deps.sh installs help2man)")
endif()

set(QUILLON_PACKAGE_CONTACT "Quillon developers <quillon@ostrel.invalid>"
    CACHE STRING "The maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
# All four parts of the version; CPack would take the first three.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_CONTACT "${QUILLON_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator panel emulator on a serial line")
# The package's long description, one line each as apt shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillon stands in for a small operator panel, a 128 x 64 monochrome"
    "graphic display with four push keys. A PC cabled to the panel port of a"
    "controlling device (serial, 9600 8N1) shows the device's display commands"
    "in a picture of the panel front and reports the keys back to it."
    "The package holds the desktop program quillon, the demo device"
    "quillon-demo-device and, when built, quillon-run, the panel with no"
    "window for tests in CI."
)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# quillon_<version>_<architecture>.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(QUILLON_BUILD_UI)
    # The Qt libraries only recommend their platform plugins, without which
    # the window cannot open on any display.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
include(CPack)
