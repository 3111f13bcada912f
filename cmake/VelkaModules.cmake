# velka_add_module(NAME name [FOLDER folder] SOURCES ... [DEPENDS module ...])
#
# One core module: the library velka_<name> built from one folder, linking only the
# modules named in DEPENDS (and, through them, the modules below those). Every file of
# the folder may include its own folder and the folders of those modules, nothing
# else: a build step checks the includes before the library compiles, so a wrong-way
# include fails the build with the file, the line and what the module may use.
#
# Includes are written from the project's root ("sms/smsbase.h"); the first folder of
# the path names the module ("tools/modemsim/..." for the virtual modem).

set(VELKA_INCLUDE_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake)

function(velka_add_module)
    cmake_parse_arguments(M "" "NAME;FOLDER" "SOURCES;DEPENDS" ${ARGN})
    if(NOT M_FOLDER)
        set(M_FOLDER ${M_NAME})
    endif()
    set(_target velka_${M_NAME})
    add_library(${_target} STATIC ${M_SOURCES})

    # The folders this module may include: its own and, transitively, its dependencies'.
    set(_allowed ${M_FOLDER})
    foreach(_dep IN LISTS M_DEPENDS)
        get_property(_dep_allowed GLOBAL PROPERTY VELKA_MODULE_FOLDERS_${_dep})
        if(NOT _dep_allowed)
            message(FATAL_ERROR "module ${M_NAME}: depends on ${_dep}, which is not defined yet")
        endif()
        list(APPEND _allowed ${_dep_allowed})
        target_link_libraries(${_target} PUBLIC velka_${_dep})
    endforeach()
    list(REMOVE_DUPLICATES _allowed)
    set_property(GLOBAL PROPERTY VELKA_MODULE_FOLDERS_${M_NAME} ${_allowed})
    set_property(GLOBAL APPEND PROPERTY VELKA_MODULES ${M_NAME})

    velka_check_includes(${_target} "${M_FOLDER}" "${_allowed}")
endfunction()

# velka_check_includes(TARGET FOLDER ALLOWED-FOLDERS)
# Every C++ file of FOLDER must include only ALLOWED-FOLDERS; checked at build time,
# before TARGET compiles, and again whenever one of the files changes.
function(velka_check_includes target folder allowed)
    file(GLOB _files CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    set(_stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked)
    string(REPLACE ";" "," _allowed_arg "${allowed}")
    string(REPLACE ";" "," _known_arg "${VELKA_MODULE_FOLDERS}")
    add_custom_command(OUTPUT ${_stamp}
        COMMAND ${CMAKE_COMMAND} -DMODULE=${folder} -DALLOWED=${_allowed_arg}
                -DKNOWN=${_known_arg} -DROOT=${PROJECT_SOURCE_DIR} -DSTAMP=${_stamp}
                -P ${VELKA_INCLUDE_CHECK_SCRIPT}
        DEPENDS ${_files} ${VELKA_INCLUDE_CHECK_SCRIPT}
        COMMENT "Checking the includes of ${folder}/"
        VERBATIM)
    add_custom_target(${target}_includes DEPENDS ${_stamp})
    add_dependencies(${target} ${target}_includes)
endfunction()
