# velka_add_module(NAME name [FOLDER folder] SOURCES ... [DEPENDS module ...]
#                  [INTERNAL header ...])
#
# One core module: the library velka_<name> built from one folder, linking only the
# modules named in DEPENDS (and, through them, the modules below those). Every file of
# the folder may include its own folder, platform/ and the folders of the modules it
# names, nothing else (a module reached only through another is used through that
# one's headers): a build step checks the includes before the library compiles, so a wrong-way
# include fails the build with the file, the line and what the module may use. The
# headers named in INTERNAL are the module's own workings behind its face: no other
# module includes them, and a program only when it OPENS the module.
#
# velka_check_program_includes(TARGET target [USES module ...] [SHARES folder ...]
#                              [OPENS module ...])
#
# The same rule for a program of tools/, tests/, bench/ or fuzz/ (or a helper library
# there): its files are the C++ sources it compiles and the headers of its own folders
# that they include. They may include the folders of those sources, platform/, the
# folders of the modules named in USES, the helper folders named in SHARES (every test
# and benchmark shares tests/support), and the internal headers of the modules named
# in OPENS (a module's own tests). Every target defined in a program folder must be
# declared so; the configure step fails on one that is not.
#
# Includes are written from the project's root ("sms/smsbase.h"), in quotes and without
# "..": the check refuses a project header in angle brackets and a path that climbs.
# The first folder of the path names the module ("tools/modemsim/..." for the virtual
# modem); a top-level folder with C++ files that is neither a module nor a program
# folder fails the configure step (velka_check_top_folders).

set(VELKA_INCLUDE_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake)

function(velka_add_module)
    cmake_parse_arguments(M "" "NAME;FOLDER" "SOURCES;DEPENDS;INTERNAL" ${ARGN})
    if(NOT M_FOLDER)
        set(M_FOLDER ${M_NAME})
    endif()
    set(_target velka_${M_NAME})
    add_library(${_target} STATIC ${M_SOURCES})

    # The folders this module may include: its own, platform's and those of the
    # modules it names; a module it reaches only through another is used through
    # that one's headers, never included directly.
    _velka_folders_of(_dep_allowed "module ${M_NAME}" uses ${M_DEPENDS})
    set(_allowed ${M_FOLDER} platform ${_dep_allowed})
    foreach(_dep IN LISTS M_DEPENDS)
        target_link_libraries(${_target} PUBLIC velka_${_dep})
    endforeach()
    list(REMOVE_DUPLICATES _allowed)
    set_property(GLOBAL APPEND PROPERTY VELKA_MODULES ${M_NAME})
    set_property(GLOBAL PROPERTY VELKA_MODULE_FOLDER_${M_NAME} ${M_FOLDER})
    foreach(_header IN LISTS M_INTERNAL)
        if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${M_FOLDER}/${_header})
            message(FATAL_ERROR "module ${M_NAME}: no internal header ${M_FOLDER}/${_header}")
        endif()
        set_property(GLOBAL APPEND PROPERTY VELKA_INTERNAL_HEADERS ${M_FOLDER}/${_header})
    endforeach()

    velka_check_includes(${_target} "${M_FOLDER}" "${_allowed}")
endfunction()

# _velka_closed_headers(OUT OPEN-FOLDER...): the internal headers of every module
# defined so far, but those of the folders given.
function(_velka_closed_headers out)
    get_property(_internal GLOBAL PROPERTY VELKA_INTERNAL_HEADERS)
    set(_closed "")
    foreach(_header IN LISTS _internal)
        get_filename_component(_folder ${_header} DIRECTORY)
        if(NOT _folder IN_LIST ARGN)
            list(APPEND _closed ${_header})
        endif()
    endforeach()
    set(${out} ${_closed} PARENT_SCOPE)
endfunction()

# _velka_folders_of(OUT WHO VERB MODULE...): the folders of the modules. WHO and VERB
# ("uses", "opens") name the user in the error when a module is not defined yet.
function(_velka_folders_of out who verb)
    set(_folders)
    foreach(_module IN LISTS ARGN)
        get_property(_module_folders GLOBAL PROPERTY VELKA_MODULE_FOLDER_${_module})
        if(NOT _module_folders)
            message(FATAL_ERROR "${who}: ${verb} ${_module}, which is not a module defined yet")
        endif()
        list(APPEND _folders ${_module_folders})
    endforeach()
    set(${out} ${_folders} PARENT_SCOPE)
endfunction()

# velka_check_includes(TARGET FOLDER ALLOWED-FOLDERS)
# Every C++ file of FOLDER must include only ALLOWED-FOLDERS; checked at build time,
# before TARGET compiles, and again whenever one of the files changes.
function(velka_check_includes target folder allowed)
    file(GLOB _files CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    _velka_closed_headers(_closed ${folder})
    string(REPLACE ";" "," _closed_arg "${_closed}")
    _velka_include_check_step(${target} "${folder}/" "${allowed}" "${_files}" -DFOLDER=${folder}
        -DINTERNAL=${_closed_arg})
endfunction()

# The build step shared by modules and programs: runs the check script before TARGET
# compiles, and again when one of DEPENDS or the script changes.
function(_velka_include_check_step target what allowed depends)
    set(_stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked)
    string(REPLACE ";" "," _allowed_arg "${allowed}")
    string(REPLACE ";" "," _modules_arg "${VELKA_MODULE_FOLDERS}")
    string(REPLACE ";" "," _programs_arg "${VELKA_PROGRAM_FOLDERS}")
    add_custom_command(OUTPUT ${_stamp}
        COMMAND ${CMAKE_COMMAND} "-DNAME=${what}" -DALLOWED=${_allowed_arg}
                -DMODULES=${_modules_arg} -DPROGRAMS=${_programs_arg}
                -DROOT=${PROJECT_SOURCE_DIR} -DSTAMP=${_stamp} ${ARGN}
                -P ${VELKA_INCLUDE_CHECK_SCRIPT}
        DEPENDS ${depends} ${VELKA_INCLUDE_CHECK_SCRIPT}
        COMMENT "Checking the includes of ${what}"
        VERBATIM)
    add_custom_target(${target}_includes DEPENDS ${_stamp})
    add_dependencies(${target} ${target}_includes)
    set_property(TARGET ${target} PROPERTY VELKA_INCLUDES_CHECKED ON)
endfunction()

function(velka_check_program_includes)
    cmake_parse_arguments(P "" "TARGET" "USES;SHARES;OPENS" ${ARGN})
    if(NOT TARGET ${P_TARGET})
        message(FATAL_ERROR "velka_check_program_includes: no target ${P_TARGET}")
    endif()
    _velka_folders_of(_module_allowed "${P_TARGET}" uses ${P_USES})
    set(_allowed platform ${P_SHARES} ${_module_allowed})
    set_property(TARGET ${P_TARGET} PROPERTY VELKA_INCLUDES_ALLOWED ${_allowed})
    _velka_folders_of(_opened "${P_TARGET}" opens ${P_OPENS})
    set_property(TARGET ${P_TARGET} PROPERTY VELKA_INCLUDES_OPENED "${_opened}")
    # The sources are read at the end of the folder's CMakeLists.txt, so that those
    # added later with target_sources are checked too.
    cmake_language(EVAL CODE "cmake_language(DEFER CALL _velka_check_program_now ${P_TARGET})")
endfunction()

function(_velka_check_program_now target)
    get_target_property(_sources ${target} SOURCES)
    get_target_property(_source_dir ${target} SOURCE_DIR)
    get_target_property(_allowed ${target} VELKA_INCLUDES_ALLOWED)
    if(NOT _allowed)
        set(_allowed "")
    endif()
    set(_files "")
    set(_depends "")
    foreach(_source IN LISTS _sources)
        if(NOT _source MATCHES "\\.(cpp|h)$")
            continue()
        endif()
        get_filename_component(_source ${_source} ABSOLUTE BASE_DIR ${_source_dir})
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${_source} NORMALIZE _ours)
        cmake_path(IS_PREFIX PROJECT_BINARY_DIR ${_source} NORMALIZE _generated)
        if(NOT _ours OR _generated)
            continue()
        endif()
        list(APPEND _files ${_source})
        file(RELATIVE_PATH _relative ${PROJECT_SOURCE_DIR} ${_source})
        get_filename_component(_folder ${_relative} DIRECTORY)
        list(APPEND _allowed ${_folder})
    endforeach()
    list(REMOVE_DUPLICATES _allowed)
    # The headers the check may follow: those of the folders the program may include.
    foreach(_folder IN LISTS _allowed)
        if(NOT _folder IN_LIST VELKA_MODULE_FOLDERS)
            file(GLOB _headers ${PROJECT_SOURCE_DIR}/${_folder}/*.h)
            list(APPEND _depends ${_headers})
        endif()
    endforeach()
    string(REPLACE ";" "," _files_arg "${_files}")
    get_target_property(_opened ${target} VELKA_INCLUDES_OPENED)
    if(NOT _opened)
        set(_opened "")
    endif()
    _velka_closed_headers(_closed ${_opened})
    string(REPLACE ";" "," _closed_arg "${_closed}")
    _velka_include_check_step(${target} "${target}" "${_allowed}" "${_files};${_depends}"
        -DFILES=${_files_arg} -DINTERNAL=${_closed_arg})
endfunction()

# Fails the configure step when a top-level folder holds C++ files but is neither a
# module folder nor a program folder, since the include check would never see it.
# Build trees (any folder holding a CMakeCache.txt one or two levels down) are skipped.
function(velka_check_top_folders)
    set(_known ${VELKA_PROGRAM_FOLDERS})
    foreach(_module IN LISTS VELKA_MODULE_FOLDERS)
        string(REGEX REPLACE "/.*" "" _top "${_module}")
        list(APPEND _known ${_top})
    endforeach()
    file(GLOB _entries LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/*)
    foreach(_entry IN LISTS _entries)
        set(_dir ${PROJECT_SOURCE_DIR}/${_entry})
        if(NOT IS_DIRECTORY ${_dir} OR _entry MATCHES "^\\." OR _entry IN_LIST _known)
            continue()
        endif()
        file(GLOB _caches ${_dir}/CMakeCache.txt ${_dir}/*/CMakeCache.txt)
        cmake_path(IS_PREFIX _dir ${PROJECT_BINARY_DIR} NORMALIZE _holds_this_build)
        if(_caches OR _holds_this_build)
            continue()
        endif()
        file(GLOB_RECURSE _code ${_dir}/*.cpp ${_dir}/*.h)
        if(_code)
            message(FATAL_ERROR "${_entry}/ holds C++ files but is neither in "
                "VELKA_MODULE_FOLDERS nor one of the program folders (${VELKA_PROGRAM_FOLDERS}), "
                "so no include check would see it: add it to VELKA_MODULE_FOLDERS with "
                "velka_add_module, or move the files into a program folder")
        endif()
    endforeach()
endfunction()

# Fails the configure step on a target of a program folder that declares no modules
# (velka_check_program_includes or the USES of the helpers that call it). Called at the
# end of the top-level CMakeLists.txt, when every target exists.
function(velka_check_programs_declared)
    set(_folders ${PROJECT_SOURCE_DIR})
    set(_missing "")
    while(_folders)
        list(POP_FRONT _folders _folder)
        get_property(_subfolders DIRECTORY ${_folder} PROPERTY SUBDIRECTORIES)
        list(APPEND _folders ${_subfolders})
        file(RELATIVE_PATH _relative ${PROJECT_SOURCE_DIR} ${_folder})
        string(REGEX REPLACE "/.*" "" _top "${_relative}")
        if(NOT _top IN_LIST VELKA_PROGRAM_FOLDERS OR _relative IN_LIST VELKA_MODULE_FOLDERS)
            continue()
        endif()
        get_property(_targets DIRECTORY ${_folder} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(_target IN LISTS _targets)
            get_target_property(_type ${_target} TYPE)
            get_target_property(_checked ${_target} VELKA_INCLUDES_CHECKED)
            if(NOT _type STREQUAL "UTILITY" AND NOT _checked)
                list(APPEND _missing "${_target} (${_relative}/)")
            endif()
        endforeach()
    endwhile()
    if(_missing)
        list(JOIN _missing ", " _missing)
        message(FATAL_ERROR "these programs declare no modules, so their includes go "
            "unchecked: ${_missing}; use velka_check_program_includes(TARGET ... USES ...)")
    endif()
endfunction()
