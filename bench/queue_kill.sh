#!/usr/bin/env bash
# The kill test's larger run: a worker process killed with SIGKILL at random
# moments, by default 1,100 times, then one undisturbed run. Prints the figures
# (kills, records, messages the modem accepted, duplicates) and fails if anything
# queued was lost or outbox.db disagrees with what the modem accepted.
#
#   bench/queue_kill.sh [KILLS] [BUILD_DIR]     (after cmake --build BUILD_DIR)
#   VELKA_KILL_SEED=N bench/queue_kill.sh       repeats a run
set -euo pipefail
kills=${1:-1100}
build=${2:-build/release}
test_program="$build/tests/app/queue_kill_tests"
[[ -x $test_program ]] || { echo "queue_kill.sh: build $test_program first" >&2; exit 2; }
VELKA_KILL_ROUNDS=$kills exec "$test_program" --gtest_brief=1
