# velka_add_test(NAME name LABEL label SOURCES ... [LIBS ...])
# One test program, one ctest entry, labelled by module. Every test gets its own
# program directory and registry file, so tests never see each other's files.
find_package(GTest REQUIRED)

function(velka_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velka_test_support GTest::gtest GTest::gmock)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABEL}" TIMEOUT 300)
endfunction()
