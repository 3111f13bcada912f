#!/usr/bin/env bash
# Prepares PREFIX (VELKA_WINDOWS_DEPS) with what the Windows build needs beyond
# mingw-w64: googletest, built for Windows from Debian's sources (/usr/src/googletest)
# with the mingw-w64 cross compiler, which is skipped when PREFIX already holds it;
# and nlohmann-json for velka-sms-cli. Usage: build-mingw-gtest.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
root=$(cd "$(dirname "$0")/.." && pwd)

# nlohmann-json is headers alone, the same for every target, so Debian's copy serves
# mingw-w64 as it is. Only its own folder and CMake package files are copied in:
# putting /usr/include on mingw-w64's path would let glibc's headers shadow the
# Windows ones. With them under PREFIX, find_package(nlohmann_json) finds it there
# in the Windows build as it finds Debian's in the Linux one. Copied afresh each
# time, so that an upgraded package reaches the Windows build too.
rm -rf "$prefix/include/nlohmann" "$prefix/share/cmake/nlohmann_json"
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

[ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && exit 0
work="$prefix.build"
rm -rf "$work"
mkdir -p "$(dirname "$work")"
cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF > "$work.log" 2>&1 \
    || { cat "$work.log"; exit 1; }
cmake --build "$work" -j "${VELKA_JOBS:-2}" >> "$work.log" 2>&1 || { cat "$work.log"; exit 1; }
cmake --install "$work" >> "$work.log" 2>&1
rm -rf "$work"
mkdir -p "$(dirname "$work")"
