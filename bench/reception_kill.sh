#!/usr/bin/env bash
# The reception tests' larger runs: a receiving process killed with SIGKILL at
# random moments, by default 1,000 times, while messages arrive; and a watching
# process receiving 1,000 messages while this one deletes beside it as fast as it
# can. Prints the figures and fails if a message was lost or stored twice.
#
#   bench/reception_kill.sh [KILLS] [MESSAGES] [BUILD_DIR]   (after cmake --build BUILD_DIR)
#   VELKA_KILL_SEED=N bench/reception_kill.sh                repeats a run
set -euo pipefail
kills=${1:-1000}
messages=${2:-1000}
build=${3:-build/release}
test_program="$build/tests/app/reception_kill_tests"
[[ -x $test_program ]] || { echo "reception_kill.sh: build $test_program first" >&2; exit 2; }
VELKA_KILL_ROUNDS=$kills VELKA_TWO_PROCESS_MESSAGES=$messages exec "$test_program" --gtest_brief=1
