# quillon-run.exe (PROGRAM, under EMULATOR) starts the demo device (DEVICE)
# with --spawn on the TCP port it listens on, the device drives the panel
# through the scenario (SCENARIO), and when the run ends so does the device:
# cmd and the program it started, none of them left behind.
file(REMOVE_RECURSE "${WORK}")
# cmd takes the program by its Windows path, on Wine's drive for the root.
string(REPLACE "/" "\\" device "Z:${DEVICE}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --tcp-listen 0 --timeout 30s --artifacts ${WORK} --scenario ${SCENARIO}
                        --spawn "${device} --tcp-connect 127.0.0.1:{port}"
                RESULT_VARIABLE status ERROR_VARIABLE errors TIMEOUT 60)
# The device's connection may be told closed before or after its end.
if(NOT status EQUAL 0 OR NOT errors MATCHES "1 passed, 0 failed\n" OR NOT errors MATCHES "the device was ended")
    message(FATAL_ERROR "exit status ${status}, expected 0 with the scenario passed and the device ended:\n${errors}")
endif()
file(READ ${WORK}/device.log log)
if(NOT log MATCHES "connecting to 127\\.0\\.0\\.1:([0-9]+)")
    message(FATAL_ERROR "device.log does not name the port the device connected to:\n${log}")
endif()
# Wine's processes show their Windows command line to the system's process
# list; the device's names its own port, so no other run's device is taken
# for it. Its end may be told a moment after the run's.
set(device_line "quillon-demo-device.exe --tcp-connect 127.0.0.1:${CMAKE_MATCH_1}")
foreach(try RANGE 50)
    execute_process(COMMAND pgrep -f -- "${device_line}" OUTPUT_VARIABLE left OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(left STREQUAL "")
        return()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.1)
endforeach()
message(FATAL_ERROR "the device outlived the run: process ${left}, \"${device_line}\"")
