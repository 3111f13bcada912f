# VELKA_FUZZ: the libFuzzer targets of fuzz/, in a build of their own (clang only;
# ./test uses build/fuzz). Every object of that build is instrumented for coverage
# and checked by AddressSanitizer and UndefinedBehaviorSanitizer, so that a finding
# inside the core libraries stops the run; only the fuzz targets link libFuzzer's main.
option(VELKA_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)

if(VELKA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VELKA_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++), "
                            "not ${CMAKE_CXX_COMPILER_ID}")
    endif()
    if(VELKA_SANITIZE)
        message(FATAL_ERROR "VELKA_FUZZ brings its own sanitizers; leave VELKA_SANITIZE empty")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
