# The ZIPs for Windows users: quillon-run.exe and quillon-demo-device.exe, the
# programs' own install rules put them at the top of the archive (the mingw
# preset sets CMAKE_INSTALL_BINDIR to "."), and a short text on using them
# with a COM port and a scenario to run. `cpack --config
# build/mingw/CPackConfig.cmake` builds it.

# The texts, with the line endings Windows programs expect.
function(quillon_windows_text source name)
    file(READ ${source} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_BINARY_DIR}/windows-texts/${name} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
quillon_windows_text(${CMAKE_CURRENT_LIST_DIR}/windows/README.txt README.txt)
quillon_windows_text(${CMAKE_SOURCE_DIR}/examples/scenarios/set_point.yaml set_point.yaml)
install(FILES ${CMAKE_BINARY_DIR}/windows-texts/README.txt ${CMAKE_BINARY_DIR}/windows-texts/set_point.yaml
        DESTINATION .)

# The desktop program's build adds quillon.exe with Qt's DLLs, the C and C++
# runtime DLLs they share with it, and the plugins it loads: the windows
# platform and its native widget style.
if(QUILLON_BUILD_UI)
    foreach(dll IN ITEMS Qt6Core Qt6Gui Qt6Widgets Qt6Network libstdc++-6 libgcc_s_seh-1 libwinpthread-1)
        install(FILES ${QUILLON_QT_PREFIX}/bin/${dll}.dll DESTINATION .)
    endforeach()
    install(FILES ${QUILLON_QT_PREFIX}/plugins/platforms/qwindows.dll DESTINATION platforms)
    install(FILES ${QUILLON_QT_PREFIX}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
    quillon_windows_text(${CMAKE_CURRENT_LIST_DIR}/windows/README-desktop.txt README-desktop.txt)
    install(FILES ${CMAKE_BINARY_DIR}/windows-texts/README-desktop.txt DESTINATION .)
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
