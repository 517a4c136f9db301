# The ZIPs for Windows users: quillon-run.exe and quillon-demo-device.exe, the
# programs' own install rules put them at the top of the archive (the mingw
# preset sets CMAKE_INSTALL_BINDIR to "."), and a short text on using them
# with a COM port. `cpack --config build/mingw/CPackConfig.cmake` builds it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/README.txt DESTINATION .)

# The desktop program's build adds quillon.exe with Qt's DLLs, the C and C++
# runtime DLLs they share with it, and the plugins it loads: the windows
# platform and its native widget style.
if(QUILLON_BUILD_UI)
    foreach(dll IN ITEMS Qt6Core Qt6Gui Qt6Widgets Qt6Network libstdc++-6 libgcc_s_seh-1 libwinpthread-1)
        install(FILES ${QUILLON_QT_PREFIX}/bin/${dll}.dll DESTINATION .)
    endforeach()
    install(FILES ${QUILLON_QT_PREFIX}/plugins/platforms/qwindows.dll DESTINATION platforms)
    install(FILES ${QUILLON_QT_PREFIX}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/README-desktop.txt DESTINATION . RENAME README-desktop.txt)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quillon)
set(CPACK_PACKAGE_VENDOR Ostrel)
if(QUILLON_BUILD_UI)
    set(CPACK_PACKAGE_FILE_NAME Quillon-${PROJECT_VERSION}-windows-x64-desktop)
else()
    set(CPACK_PACKAGE_FILE_NAME Quillon-${PROJECT_VERSION}-windows-x64)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
