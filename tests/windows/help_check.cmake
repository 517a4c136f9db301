# quillon-run.exe --help (PROGRAM, under EMULATOR) speaks of COM ports, and
# every line that offers what Windows does not have (a pseudo-terminal, a
# Unix socket, a symbolic link) says so.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --help RESULT_VARIABLE status OUTPUT_VARIABLE help TIMEOUT 60)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "exit status ${status}, expected 0")
endif()
if(NOT help MATCHES "--port PATH +a COM port, COM1 to COM256")
    message(FATAL_ERROR "--port does not speak of COM ports:\n${help}")
endif()
string(REPLACE "\n" ";" lines "${help}")
foreach(line IN LISTS lines)
    if(line MATCHES "pseudo-terminal|Unix socket|symbolic link|the shell" AND NOT line MATCHES "\\(not on Windows\\)")
        message(FATAL_ERROR "offered as if Windows had it:\n${line}")
    endif()
endforeach()
