# PROGRAM (under EMULATOR), given ARGS ('|' between them) and a COM port that
# does not exist (COM${ASK}), exits with STATUS and names the ports the
# registry lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, whose value names
# hold backslashes the way drivers name their devices. A value for each
# port of PORTS is added for the run, under names Wine's own ports do not
# use, and removed after it.
set(key "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM")
set(names)
foreach(port IN LISTS PORTS)
    # One name of a single part, the others nested deeper.
    if(names)
        set(name "\\Device\\QuillonTest\\Port${port}")
    else()
        set(name "\\Device\\QuillonSerial${port}")
    endif()
    list(APPEND names "${name}")
    execute_process(COMMAND ${EMULATOR} reg add ${key} /v ${name} /d COM${port} /f OUTPUT_QUIET ERROR_QUIET
                    RESULT_VARIABLE added)
    if(NOT added EQUAL 0)
        message(FATAL_ERROR "reg add ${name} failed: ${added}")
    endif()
endforeach()
string(REPLACE "|" ";" arguments "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments} --port COM${ASK} RESULT_VARIABLE status
                ERROR_VARIABLE errors TIMEOUT 60)
foreach(name IN LISTS names)
    execute_process(COMMAND ${EMULATOR} reg delete ${key} /v ${name} /f OUTPUT_QUIET ERROR_QUIET)
endforeach()
if(NOT status EQUAL STATUS)
    message(FATAL_ERROR "exit status ${status}, expected ${STATUS}; standard error:\n${errors}")
endif()
# Lowest first, each named once, and not the port asked for.
set(found "There is no such port\\. COM ports found: (COM[0-9]+, )*")
set(separator "")
foreach(port IN LISTS PORTS)
    string(APPEND found "${separator}COM${port}")
    set(separator ", (COM[0-9]+, )*")
endforeach()
# A desktop program's standard error may end its lines the Windows way.
string(APPEND found "(, COM[0-9]+)*\\.\r?\n")
if(NOT errors MATCHES "COM${ASK}[^,.]*${found}" OR errors MATCHES "COM${ASK}[,.]")
    message(FATAL_ERROR "standard error does not name ${PORTS} as the ports found:\n${errors}")
endif()
