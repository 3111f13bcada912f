# cmake -DNAME=what -DALLOWED=a,b -DMODULES=a,b,c -DPROGRAMS=tools,tests -DROOT=dir
#       (-DFOLDER=folder | -DFILES=file,file) [-DINTERNAL=a/x.h,b/y.h] [-DSTAMP=file]
#       -P CheckIncludes.cmake
#
# Checks the includes of a module (every C++ file of FOLDER) or of a program (its
# FILES and the headers of its own folders that they include, followed from file to
# file). Fails, naming each offending file and line, on:
#   - a project path that belongs to neither an ALLOWED module folder nor an ALLOWED
#     program folder ("folder/..." of a module it does not use);
#   - a project path written with angle brackets (<store/packet.h>): those are for
#     other libraries, and the compiler would look for them there first;
#   - a path that climbs with "..": it says where a file sits, not which module it
#     belongs to, and so slips past the rule above;
#   - one of the INTERNAL headers: another module's workings behind its face.
# A project path is one that starts with a module folder (MODULES, the longest that
# fits) or a program folder (PROGRAMS); a program path belongs to its directory
# ("tests/support/temp_dir.h" to tests/support). Includes of the standard library,
# of other libraries and of generated headers ("ui_main_form.h") are not project paths.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" _allowed "${ALLOWED}")
string(REPLACE "," ";" _modules "${MODULES}")
string(REPLACE "," ";" _programs "${PROGRAMS}")
string(REPLACE "," ";" _internal "${INTERNAL}")
if(DEFINED FOLDER)
    # A module: whatever its folder holds now, so that a new file is checked at once.
    file(GLOB _pending ${ROOT}/${FOLDER}/*.h ${ROOT}/${FOLDER}/*.cpp)
else()
    string(REPLACE "," ";" _pending "${FILES}")
endif()

# The first folder of every project path, for the angle-bracket rule.
set(_tops ${_programs})
foreach(_module IN LISTS _modules)
    string(REGEX REPLACE "/.*" "" _top "${_module}")
    list(APPEND _tops ${_top})
endforeach()
list(REMOVE_DUPLICATES _tops)

# Sets ${out} to the folder that owns project path ${path}, or to "" when the path
# is not the project's.
function(_velka_owner path out)
    set(_owner "")
    foreach(_module IN LISTS _modules)
        string(LENGTH "${_module}/" _length)
        string(SUBSTRING "${path}" 0 ${_length} _start)
        string(LENGTH "${_owner}" _owner_length)
        if(_start STREQUAL "${_module}/" AND _length GREATER _owner_length)
            set(_owner ${_module})
        endif()
    endforeach()
    if(NOT _owner)
        string(REGEX REPLACE "/.*" "" _top "${path}")
        if(path MATCHES "/" AND _top IN_LIST _programs)
            get_filename_component(_owner "${path}" DIRECTORY)
        endif()
    endif()
    set(${out} "${_owner}" PARENT_SCOPE)
endfunction()

set(_errors "")
set(_seen "")
while(_pending)
    list(POP_FRONT _pending _file)
    if(_file IN_LIST _seen)
        continue()
    endif()
    list(APPEND _seen ${_file})
    file(RELATIVE_PATH _name ${ROOT} ${_file})

    # One list element per line, empty lines kept, so that the count gives the line
    # number; the characters that a CMake list would read as structure go first.
    file(READ ${_file} _text)
    string(REPLACE "\\" "/" _text "${_text}")
    string(REPLACE ";" "," _text "${_text}")
    string(REPLACE "[" "(" _text "${_text}")
    string(REPLACE "]" ")" _text "${_text}")
    string(REPLACE "\r" "" _text "${_text}")
    string(REPLACE "\n" ";" _lines "${_text}")

    set(_number 0)
    foreach(_line IN LISTS _lines)
        math(EXPR _number "${_number} + 1")
        if(NOT _line MATCHES "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]*)[\">]")
            continue()
        endif()
        set(_quote "${CMAKE_MATCH_1}")
        set(_path "${CMAKE_MATCH_2}")
        if(_quote STREQUAL "<")
            set(_where "  ${_name}:${_number}: #include <${_path}>")
        else()
            set(_where "  ${_name}:${_number}: #include \"${_path}\"")
        endif()

        if(_path MATCHES "(^|/)\\.\\.(/|$)")
            string(APPEND _errors "${_where}: climbs with \"..\"; write the path from the root\n")
            continue()
        endif()
        string(REGEX REPLACE "/.*" "" _top "${_path}")
        if(_quote STREQUAL "<")
            if(_path MATCHES "/" AND _top IN_LIST _tops)
                string(APPEND _errors
                    "${_where}: a project header in angle brackets; write \"${_path}\"\n")
            endif()
            continue()
        endif()

        _velka_owner("${_path}" _owner)
        if(NOT _owner)
            continue()
        endif()
        if(NOT _owner IN_LIST _allowed)
            string(APPEND _errors "${_where}: ${_owner}/ is not among the folders it may use\n")
        elseif(_path IN_LIST _internal)
            string(APPEND _errors
                "${_where}: internal to ${_owner}/; go through the headers that are its face\n")
        elseif(NOT _owner IN_LIST _modules AND EXISTS ${ROOT}/${_path})
            # A header of the program's own folders: its includes count as the program's.
            list(APPEND _pending ${ROOT}/${_path})
        endif()
    endforeach()
endwhile()

if(_errors)
    message(FATAL_ERROR "${NAME} may include only ${ALLOWED}; refused:\n${_errors}")
endif()
if(STAMP)
    file(TOUCH ${STAMP})
endif()
