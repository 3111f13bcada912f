#!/usr/bin/env bash
# Builds googletest for Windows from Debian's sources (/usr/src/googletest) with the
# mingw-w64 cross compiler and installs it under PREFIX. Does nothing when PREFIX
# already holds it. Usage: build-mingw-gtest.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
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
