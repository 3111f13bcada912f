#!/usr/bin/env bash
# Runs every fuzz target of a VELKA_FUZZ build for a bounded time and fails on any
# finding (a crash, a sanitizer report, a failed check, a leak, a time-out).
#
#   scripts/fuzz.sh BUILD_DIR [SECONDS]     (20 seconds per target unless given)
#
# Each target starts from a copy of its seed corpus in fuzz/corpus/<name>/, so the
# corpus in the tree never grows; what a run found lies in BUILD_DIR/fuzz-run/.
# The last status line of each target (executions, coverage, exec/s) is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: scripts/fuzz.sh BUILD_DIR [SECONDS]}
seconds=${2:-20}
targets=(deliver submit listing store profile contact_files)

run_dir="$build/fuzz-run"
rm -rf "$run_dir"
failed=()
for name in "${targets[@]}"; do
    program="$build/fuzz/fuzz_$name"
    [[ -x $program ]] || { echo "fuzz: $program is missing; build the target velka_fuzz" >&2; exit 1; }
    corpus="$run_dir/$name/corpus"
    artifacts="$run_dir/$name/findings"
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/"$name"/* "$corpus"/
    log="$run_dir/$name/fuzz.log"
    # One process, one job: the machine's other cores belong to the other stages.
    if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" > "$log" 2>&1; then
        status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
        echo "fuzz_$name: ${status:-no status line}"
    else
        echo "fuzz_$name: FINDING (log: $log)" >&2
        tail -n 40 "$log" >&2
        failed+=("$name")
    fi
done

if ((${#failed[@]})); then
    echo "fuzz: findings in ${failed[*]}; the inputs are in $run_dir/<target>/findings/" >&2
    exit 1
fi
