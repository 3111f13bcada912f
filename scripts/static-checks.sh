#!/usr/bin/env bash
# The static checks of the core, as ./test runs them:
#   1. the clang build of the core libraries (build/clang): every warning of the
#      project and clang's thread-safety analysis, all as errors, so that each
#      GUARDED_BY field is proved to be touched only under its lock; and a test
#      that the analysis still refuses each kind of violation;
#   2. clang-tidy with the root .clang-tidy over the core's own files (not gui/,
#      tools/ or tests/), findings as errors.
#   scripts/static-checks.sh [BUILD-DIR] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/clang}
jobs=${2:-$(nproc)}

core='platform|sms|store|serial|modem|contacts|compose|settings|messages|app|contact_files|gateway|webhooks'
mkdir -p "$(dirname "$dir")"
# No debug information: the build is for the analysis and its one test.
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g0 \
    -DVELKA_WERROR=ON -DVELKA_GUI=OFF -DVELKA_BENCH=OFF > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }

start=$SECONDS
# velka_app, velka_contacts, velka_compose, velka_contact_files, velka_gateway and
# velka_webhooks bring every core library below them.
cmake --build "$dir" -j "$jobs" --target velka_app velka_contacts velka_compose velka_contact_files \
    velka_gateway velka_webhooks
(cd "$dir" && ctest --output-on-failure -R '^thread_safety_analysis$')
echo "clang build of the core: $((SECONDS - start)) s"

start=$SECONDS
run-clang-tidy-14 -quiet -j "$jobs" -p "$dir" "^$PWD/($core)/[^/]+\.cpp\$" > "$dir.tidy.log" 2>&1 \
    || { sed -E 's/\x1b\[[0-9;]*m//g' "$dir.tidy.log" | grep -v 'warnings\? generated\.$'; exit 1; }
echo "clang-tidy over the core: $((SECONDS - start)) s"
