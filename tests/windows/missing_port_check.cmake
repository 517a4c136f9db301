# quillon-run.exe (PROGRAM, under EMULATOR) on a COM port that does not exist
# names the ports the registry lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
# whose value names hold backslashes the way drivers name their devices. The
# two values are added for the run and removed after it.
set(key "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM")
set(values "\\Device\\Serial77=COM77" "\\Device\\QuillonTest\\Port201=COM201")
foreach(value IN LISTS values)
    string(REPLACE "=" ";" parts "${value}")
    list(GET parts 0 name)
    list(GET parts 1 port)
    execute_process(COMMAND ${EMULATOR} reg add ${key} /v ${name} /d ${port} /f OUTPUT_QUIET ERROR_QUIET
                    RESULT_VARIABLE added)
    if(NOT added EQUAL 0)
        message(FATAL_ERROR "reg add ${name} failed: ${added}")
    endif()
endforeach()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --port COM99 RESULT_VARIABLE status ERROR_VARIABLE errors TIMEOUT 60)
foreach(value IN LISTS values)
    string(REPLACE "=" ";" parts "${value}")
    list(GET parts 0 name)
    execute_process(COMMAND ${EMULATOR} reg delete ${key} /v ${name} /f OUTPUT_QUIET ERROR_QUIET)
endforeach()
if(NOT status EQUAL 2)
    message(FATAL_ERROR "exit status ${status}, expected 2; standard error:\n${errors}")
endif()
# Lowest first, each named once, and not the port asked for.
if(NOT errors MATCHES "cannot use COM99 \\(set-up step 1 failed: it could not be opened\\): There is no such port\\. COM ports found: (COM[0-9]+, )*COM77, (COM[0-9]+, )*COM201(, COM[0-9]+)*\\.\n"
   OR errors MATCHES "COM99[,.]")
    message(FATAL_ERROR "standard error does not name COM77 and COM201 as the ports found:\n${errors}")
endif()
