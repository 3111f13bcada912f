# velka_add_test(NAME name LABEL label SOURCES ... USES module ... [SHARES folder ...]
#                [OPENS module ...] [LIBS ...])
# One test program, one ctest entry, labelled by module. Every test gets its own
# program directory and registry file, so tests never see each other's files.
# USES names the modules its files include (velka_check_program_includes); it may
# include tests/support and the folders of its sources besides, and the helper
# folders of programs named in SHARES, and the internal headers of the modules named
# in OPENS (a module's own tests).
find_package(GTest REQUIRED)

# velka_test_programs(LABEL label PROGRAMS target ...)
# The programs the tests of LABEL run, gathered into the target tests_LABEL, so that a
# stage which runs only some labels (the ThreadSanitizer one) builds only what they need.
function(velka_test_programs)
    cmake_parse_arguments(P "" "LABEL" "PROGRAMS" ${ARGN})
    if(NOT TARGET tests_${P_LABEL})
        add_custom_target(tests_${P_LABEL})
    endif()
    add_dependencies(tests_${P_LABEL} ${P_PROGRAMS})
endfunction()

function(velka_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;USES;SHARES;OPENS;LIBS" ${ARGN})
    if(NOT T_USES)
        message(FATAL_ERROR "velka_add_test(${T_NAME}): USES must name the modules it tests")
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    velka_check_program_includes(TARGET ${T_NAME} USES ${T_USES} SHARES tests/support ${T_SHARES}
        OPENS ${T_OPENS})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velka_test_support GTest::gtest GTest::gmock)
    # Tests need no more than -O1 (the modules they test keep the build's own
    # optimisation), and -O3 costs their files a third more compile time.
    if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT MSVC)
        target_compile_options(${T_NAME} PRIVATE -O1)
    endif()
    velka_test_programs(LABEL ${T_LABEL} PROGRAMS ${T_NAME})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # Every test of the Windows build is also labelled "windows" (run under Wine here).
    set(_labels ${T_LABEL})
    if(WIN32)
        list(APPEND _labels windows)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${_labels}" TIMEOUT 300)
endfunction()
