# cmake -DCOMPILER=clang++ -DSOURCE=file.cpp -DROOT=dir -P expect_thread_safety_warnings.cmake
#
# Compiles SOURCE with clang's thread-safety analysis and fails unless clang warns
# on exactly the lines marked "expect-warning".
cmake_minimum_required(VERSION 3.25)
execute_process(
    COMMAND ${COMPILER} -std=c++20 -fsyntax-only -Wthread-safety -I ${ROOT} ${SOURCE}
    ERROR_VARIABLE _output OUTPUT_VARIABLE _output)
get_filename_component(_name ${SOURCE} NAME)

file(STRINGS ${SOURCE} _lines)
set(_expected "")
set(_number 0)
foreach(_line IN LISTS _lines)
    math(EXPR _number "${_number} + 1")
    if(_line MATCHES "// expect-warning")
        list(APPEND _expected ${_number})
    endif()
endforeach()

string(REGEX MATCHALL "${_name}:[0-9]+:[0-9]+: warning: [^\n]*" _warnings "${_output}")
set(_reported "")
foreach(_warning IN LISTS _warnings)
    string(REGEX REPLACE "^${_name}:([0-9]+):.*" "\\1" _at "${_warning}")
    list(APPEND _reported ${_at})
endforeach()
list(REMOVE_DUPLICATES _reported)
list(SORT _reported COMPARE NATURAL)

if(NOT _reported STREQUAL _expected)
    message(FATAL_ERROR "thread-safety warnings on lines [${_reported}], expected on "
        "[${_expected}]; clang said:\n${_output}")
endif()
list(LENGTH _expected _count)
message(STATUS "clang refused all ${_count} marked violations of the lock rules")
