#!/usr/bin/env bash
# Builds the Debian package of the program: the packages it needs (setup.sh), the
# Release build (build/release, reused when it is there), then CPack. Prints the
# package's path, for `sudo apt install ./PATH`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/release -j "$(nproc)"
rm -rf build/release/packages
(cd build/release && cpack -G DEB > /dev/null)
ls build/release/packages/velka-sms_*.deb
