# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the -posix variant,
# whose std::thread and std::mutex googletest and the core need). Runtime libraries
# are linked statically so the executables run from any folder, under Wine too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELKA_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VELKA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELKA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELKA_MINGW_TRIPLET}-windres)

# Libraries for Windows are found under VELKA_WINDOWS_DEPS: googletest and cpp-httplib
# built for it, nlohmann-json's headers copied there (scripts/windows-deps.sh).
set(CMAKE_FIND_ROOT_PATH /usr/${VELKA_MINGW_TRIPLET} ${VELKA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 7 and later: the API the platform layer calls.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# ctest runs the test programs under Wine (scripts/windows-tests.sh prepares it).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
