# Runs PROGRAM twice with ARGS (separated by '|') and a JSON Lines trace to
# OUT-1.jsonl and OUT-2.jsonl, and checks that both runs told the same
# faults, on the same blocks and bytes, and at least one.
string(REPLACE "|" ";" arguments "${ARGS}")
foreach(run 1 2)
    execute_process(COMMAND ${PROGRAM} ${arguments} --trace-format jsonl --trace ${OUT}-${run}.jsonl
                    RESULT_VARIABLE status ERROR_VARIABLE errors TIMEOUT 60)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "run ${run}: exit status ${status}:\n${errors}")
    endif()
    file(STRINGS ${OUT}-${run}.jsonl rows REGEX "\"kind\":\"fault\"")
    list(TRANSFORM rows REPLACE "^{\"t\":[0-9.]+," "{")
    set(faults${run} "${rows}")
endforeach()
if(NOT faults1)
    message(FATAL_ERROR "no fault was told")
endif()
if(NOT faults1 STREQUAL faults2)
    message(FATAL_ERROR "the faults differ:\n${faults1}\n---\n${faults2}")
endif()
