# Fails when a file of the engine includes anything but the standard library
# and the engine's own headers: the engine must build without Qt and without
# the operating system's interfaces, so it links into tests, fuzzers,
# benchmarks and headless tools alike.
file(GLOB engine_files "${SOURCE_DIR}/link/*" "${SOURCE_DIR}/display/*")
set(offences "")
foreach(file IN LISTS engine_files)
    if(NOT file MATCHES "\\.(h|cpp)$")
        continue()
    endif()
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*\"(link|display)/[a-z_]+\\.h\"")
            continue()
        endif()
        if(line MATCHES "#[ \t]*include[ \t]*<[a-z_]+>")
            continue()
        endif()
        string(APPEND offences "${file}: ${line}\n")
    endforeach()
endforeach()
if(offences)
    message(FATAL_ERROR "The engine may include only standard headers and its own:\n${offences}")
endif()
