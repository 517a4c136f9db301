# Runs PROGRAM (under EMULATOR, when given) with ARGS (separated by '|') and
# checks its exit status (STATUS), that its standard error matches STDERR (and
# its standard output STDOUT, when given), and that FILE exists and, when
# FILE_CONTENT is given, matches it, and that NO_FILE does not. CLEAN, when
# given, is removed first.
if(CLEAN)
    file(REMOVE_RECURSE "${CLEAN}")
endif()
string(REPLACE "|" ";" arguments "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors
                TIMEOUT 60)
if(NOT "${status}" STREQUAL "${STATUS}")
    message(FATAL_ERROR "exit status ${status}, expected ${STATUS}; standard error:\n${errors}")
endif()
if(NOT errors MATCHES "${STDERR}")
    message(FATAL_ERROR "standard error does not match \"${STDERR}\":\n${errors}")
endif()
if(STDOUT AND NOT output MATCHES "${STDOUT}")
    message(FATAL_ERROR "standard output does not match \"${STDOUT}\":\n${output}")
endif()
if(FILE)
    if(NOT EXISTS "${FILE}")
        message(FATAL_ERROR "${FILE} was not written")
    endif()
    if(FILE_CONTENT)
        file(READ "${FILE}" content)
        if(NOT content MATCHES "${FILE_CONTENT}")
            message(FATAL_ERROR "${FILE} does not match \"${FILE_CONTENT}\":\n${content}")
        endif()
    endif()
endif()
if(NO_FILE AND EXISTS "${NO_FILE}")
    message(FATAL_ERROR "${NO_FILE} was left behind")
endif()
