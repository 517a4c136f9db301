# A program (PROGRAM, under EMULATOR) listening on a TCP port starts the demo
# device (DEVICE) with --spawn on that port; with the run's other options
# (ARGS, separated by '|') the device draws, the run ends and says so (SAID,
# matched against its standard output and error together), and so does the
# device: cmd and the program it started, none of them left behind. DRAWN,
# when given, is a file the run writes in WORK, its folder, that must match
# DRAWN_CONTENT.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
string(REPLACE "|" ";" arguments "${ARGS}")
# cmd takes the program by its Windows path, on Wine's drive for the root.
string(REPLACE "/" "\\" device "Z:${DEVICE}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --tcp-listen 0 ${arguments}
                        --spawn "${device} --tcp-connect 127.0.0.1:{port}"
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said TIMEOUT 60)
# The device's connection may be told closed before or after its end.
if(NOT status EQUAL 0 OR NOT said MATCHES "${SAID}" OR NOT said MATCHES "the device was ended")
    message(FATAL_ERROR "exit status ${status}, expected 0 with \"${SAID}\" and the device ended:\n${said}")
endif()
if(DRAWN)
    file(READ ${WORK}/${DRAWN} drawn)
    if(NOT drawn MATCHES "${DRAWN_CONTENT}")
        message(FATAL_ERROR "${DRAWN} does not match \"${DRAWN_CONTENT}\":\n${drawn}")
    endif()
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
