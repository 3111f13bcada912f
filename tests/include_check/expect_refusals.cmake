# cmake -DCHECK=CheckIncludes.cmake -DROOT=dir -DMODULES=a,b -DPROGRAMS=c,d
#       -P expect_refusals.cmake
#
# Runs the include check on the fixture files of this folder, one case at a time, and
# fails unless each case that should be refused is refused on exactly the lines marked
# "refused" (in the files it reads, followed headers included) and each case that
# should pass passes.
cmake_minimum_required(VERSION 3.25)
set(_here tests/include_check)
set(_failures "")

# The lines of FILE marked "refused", as "path:line" entries.
function(_marked file out)
    file(STRINGS ${ROOT}/${file} _lines)
    set(_number 0)
    set(_marks "")
    foreach(_line IN LISTS _lines)
        math(EXPR _number "${_number} + 1")
        if(_line MATCHES "// refused")
            list(APPEND _marks "${file}:${_number}")
        endif()
    endforeach()
    set(${out} ${_marks} PARENT_SCOPE)
endfunction()

# _case(NAME name ALLOWED folder... FILES file... [READS file...] [INTERNAL header...]
#       REFUSED|PASSES)
# FILES are given to the check; READS are the files it must follow to from them;
# INTERNAL are the headers closed to them.
function(_case)
    cmake_parse_arguments(C "REFUSED;PASSES" "NAME" "ALLOWED;FILES;READS;INTERNAL" ${ARGN})
    set(_absolute "")
    foreach(_file IN LISTS C_FILES)
        list(APPEND _absolute ${ROOT}/${_here}/${_file})
    endforeach()
    string(REPLACE ";" "," _files_arg "${_absolute}")
    string(REPLACE ";" "," _allowed_arg "${C_ALLOWED}")
    string(REPLACE ";" "," _internal_arg "${C_INTERNAL}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -DNAME=${C_NAME} -DALLOWED=${_allowed_arg} -DMODULES=${MODULES}
                -DPROGRAMS=${PROGRAMS} -DROOT=${ROOT} -DFILES=${_files_arg}
                -DINTERNAL=${_internal_arg} -P ${CHECK}
        RESULT_VARIABLE _result OUTPUT_VARIABLE _output ERROR_VARIABLE _output)

    if(C_PASSES)
        if(NOT _result EQUAL 0)
            string(APPEND _failures "${C_NAME}: refused, but every include is right:\n${_output}\n")
        endif()
        set(_failures "${_failures}" PARENT_SCOPE)
        return()
    endif()

    set(_expected "")
    foreach(_file IN LISTS C_FILES C_READS)
        _marked(${_here}/${_file} _marks)
        list(APPEND _expected ${_marks})
    endforeach()
    string(REGEX MATCHALL "tests/include_check/[a-z_]+\\.(cpp|h):[0-9]+: #include" _reported
        "${_output}")
    list(TRANSFORM _reported REPLACE ": #include$" "")
    list(SORT _expected)
    list(SORT _reported)
    if(_result EQUAL 0)
        string(APPEND _failures "${C_NAME}: passed, but should be refused on [${_expected}]\n")
    elseif(NOT _reported STREQUAL _expected)
        string(APPEND _failures "${C_NAME}: refused [${_reported}], expected [${_expected}]; "
            "the check said:\n${_output}\n")
    endif()
    set(_failures "${_failures}" PARENT_SCOPE)
endfunction()

# A module of store/, reaching modules above it and a program's helpers.
_case(NAME wrong-way ALLOWED store platform FILES wrong_way.cpp REFUSED)
# Project headers in angle brackets, even of a module that may be used.
_case(NAME angle-brackets ALLOWED store platform FILES angle_brackets.cpp REFUSED)
# Paths that climb out of the file's folder.
_case(NAME climbing ALLOWED store platform FILES climbing.cpp REFUSED)
# A program that declares store/: its own header reaches contacts/, and it reaches
# another program's helper.
_case(NAME program ALLOWED store platform ${_here} FILES program_main.cpp
    READS program_helper.h REFUSED)
# A header internal to a module the program uses but does not open.
_case(NAME internal ALLOWED modem store platform FILES internal_header.cpp
    INTERNAL modem/dialogue.h modem/send.h REFUSED)
# The same files, for a program that opens the module (its own tests).
_case(NAME opened ALLOWED modem store platform FILES internal_header.cpp PASSES)
# Everything written the right way, a header of the program's own folder included.
_case(NAME right ALLOWED store platform ${_here} FILES right.cpp right_helper.h PASSES)

if(_failures)
    message(FATAL_ERROR "the include check let wrong includes through:\n${_failures}")
endif()
message(STATUS "the include check refused every wrong include and passed the right ones")
