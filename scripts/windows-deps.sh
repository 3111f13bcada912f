#!/usr/bin/env bash
# Prepares PREFIX (VELKA_WINDOWS_DEPS) with what the Windows build needs beyond
# mingw-w64, each built for Windows with the mingw-w64 cross compiler from Debian's
# own sources and skipped when PREFIX already holds it:
#   googletest, from Debian's /usr/src/googletest;
#   nlohmann-json for velka-sms-cli, headers alone;
#   cpp-httplib for the HTTP API and the webhooks: Debian builds it as a library
#   for Linux alone, so the source package of the very version installed is
#   fetched from Debian's archive, split into its header and its source, as
#   Debian's own build does, and compiled into a static library.
# Usage: windows-deps.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs=${VELKA_JOBS:-2}

# Runs a step with its output added to LOG, which is shown when the step fails.
logged() {  # logged LOG COMMAND...
  local log=$1
  shift
  "$@" >> "$log" 2>&1 || { cat "$log"; return 1; }
}

# nlohmann-json is headers alone, the same for every target, so Debian's copy serves
# mingw-w64 as it is. Only its own folder and CMake package files are copied in:
# putting /usr/include on mingw-w64's path would let glibc's headers shadow the
# Windows ones. With them under PREFIX, find_package(nlohmann_json) finds it there
# in the Windows build as it finds Debian's in the Linux one. Copied afresh each
# time, so that an upgraded package reaches the Windows build too.
copy_json() {
  rm -rf "$prefix/include/nlohmann" "$prefix/share/cmake/nlohmann_json"
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  cp -r /usr/include/nlohmann "$prefix/include/"
  cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
}

build_gtest() {
  [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  local work="$prefix.gtest"
  rm -rf "$work"
  : > "$work.log"
  logged "$work.log" cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=OFF
  logged "$work.log" cmake --build "$work" -j "$jobs"
  logged "$work.log" cmake --install "$work"
  rm -rf "$work"
}

# The version the Linux build links (scripts/setup.sh installs it), so that both
# builds speak the same library; a stamp names it, and a new one rebuilds.
build_httplib() {
  local version stamp="$prefix/lib/cpp-httplib.version"
  version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
  [ -f "$prefix/lib/libcpp-httplib.a" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$version" ] \
    && return 0
  local work="$prefix.httplib"
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  # A list of Debian's sources of our own, so that the machine's apt settings stay
  # as they are; the archive is the one the machine installs from.
  local archive
  archive=$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' 2>/dev/null \
    | grep -m1 -v security || true)
  archive=${archive:-http://deb.debian.org/debian/}
  local suite
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # Each deb-src line names one suite; the updates carry the fixes a stable
  # release publishes after its point release.
  printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
    "$archive" "$suite" "$archive" "${suite}-updates" > "$work/sources.list"
  local apt=(apt-get -q -o Dir::Etc::SourceList="$work/sources.list"
    -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists="$work/lists"
    -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
  : > "$work.log"
  logged "$work.log" "${apt[@]}" update
  (cd "$work" && logged "$work.log" "${apt[@]}" source --download-only "cpp-httplib=$version")
  (cd "$work" && logged "$work.log" dpkg-source -x ./*.dsc source)
  logged "$work.log" python3 "$work/source/split.py" --out "$work/split"
  # Built with the toolchain file, so that it sees the Windows version and the
  # definitions the rest of the Windows build is compiled with.
  cat > "$work/split/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(cpp_httplib CXX)
add_library(cpp-httplib STATIC httplib.cc)
target_compile_features(cpp-httplib PRIVATE cxx_std_17)
install(TARGETS cpp-httplib ARCHIVE DESTINATION lib)
install(FILES httplib.h DESTINATION include)
CMAKE
  logged "$work.log" cmake -S "$work/split" -B "$work/build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix"
  logged "$work.log" cmake --build "$work/build" -j "$jobs"
  logged "$work.log" cmake --install "$work/build"
  echo "$version" > "$stamp"
  rm -rf "$work"
}

copy_json
build_gtest
build_httplib
