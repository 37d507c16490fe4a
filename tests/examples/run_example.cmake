# Runs an example program and checks its exit status and what it prints (standard output and
# standard error together), for the runs whose status matters (a plain add_test cannot tell
# status 1 from 2):
#   cmake -DSTATUS=<expected status> -DPATTERN=<regular expression>
#         [-DFILE=<path> -DTEXT=<content written there first>] -P run_example.cmake -- <program> ...
cmake_policy(VERSION 3.25)

set(command)
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(k RANGE ${last})
    if(after_separator)
        list(APPEND command "${CMAKE_ARGV${k}}")
    elseif(CMAKE_ARGV${k} STREQUAL "--")
        set(after_separator TRUE)
    endif()
endforeach()
if(DEFINED FILE)
    file(WRITE "${FILE}" "${TEXT}")
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 60)
if(NOT status STREQUAL "${STATUS}")
    message(FATAL_ERROR "status ${status}, expected ${STATUS}\n--- stdout:\n${out}\n--- stderr:\n${err}")
endif()
if(NOT "${out}${err}" MATCHES "${PATTERN}")
    message(FATAL_ERROR "no match for '${PATTERN}'\n--- stdout:\n${out}\n--- stderr:\n${err}")
endif()
