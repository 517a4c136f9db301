# The ZIP for Windows users: quillon-run.exe and quillon-demo-device.exe, the
# programs' own install rules put them at the top of the archive (the mingw
# preset sets CMAKE_INSTALL_BINDIR to "."), and a short text on using them
# with a COM port. `cpack --config build/mingw/CPackConfig.cmake` builds it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quillon)
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_FILE_NAME Quillon-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
