# cmake -DMODULE=folder -DALLOWED=a,b -DKNOWN=a,b,c -DROOT=dir -DSTAMP=file -P CheckIncludes.cmake
#
# Fails when a C++ file of MODULE includes a project folder (one of KNOWN) that is not
# in ALLOWED; the message names each offending line. Includes of the standard library,
# of other libraries (<...>) and of generated headers are not project folders.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" _allowed "${ALLOWED}")
string(REPLACE "," ";" _known "${KNOWN}")
file(GLOB _files ${ROOT}/${MODULE}/*.h ${ROOT}/${MODULE}/*.cpp)

set(_errors "")
foreach(_file IN LISTS _files)
    file(STRINGS ${_file} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(_line IN LISTS _lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" _path "${_line}")
        # The module a path belongs to: the longest known folder it starts with.
        set(_owner "")
        foreach(_folder IN LISTS _known)
            string(LENGTH "${_folder}/" _length)
            string(SUBSTRING "${_path}" 0 ${_length} _start)
            string(LENGTH "${_owner}" _owner_length)
            if(_start STREQUAL "${_folder}/" AND _length GREATER _owner_length)
                set(_owner ${_folder})
            endif()
        endforeach()
        if(_owner AND NOT _owner IN_LIST _allowed)
            file(RELATIVE_PATH _name ${ROOT} ${_file})
            string(APPEND _errors "  ${_name}: #include \"${_path}\"\n")
        endif()
    endforeach()
endforeach()

if(_errors)
    message(FATAL_ERROR "${MODULE}/ may include only ${ALLOWED}; these includes reach "
        "modules it does not link:\n${_errors}")
endif()
file(TOUCH ${STAMP})
