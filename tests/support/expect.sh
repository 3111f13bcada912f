# Checks for test scripts that drive a command-line program as a user would.
# The sourcing script defines run_program (how to start the program under test
# with the arguments given) and calls finish at its end.

failures=0

fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

expect_output() {  # expect_output TEXT ARGS... : succeeds and prints a line holding TEXT
    local text=$1 out
    shift
    if ! out=$(run_program "$@" 2>&1); then fail "$* exited non-zero: $out"; return; fi
    grep -qF -- "$text" <<<"$out" || fail "$* did not print '$text' but: $out"
}

# expect_refusal STATUS TEXT ARGS... : exits with STATUS ("nonzero" for any
# failure) and says TEXT on the error stream.
expect_refusal() {
    local status=$1 text=$2 err code=0
    shift 2
    err=$(run_program "$@" 2>&1 >/dev/null) || code=$?
    if [[ $status == nonzero ]]; then
        [[ $code != 0 ]] || fail "$* succeeded"
    else
        [[ $code == "$status" ]] || fail "$* exited $code, not $status: $err"
    fi
    grep -qF -- "$text" <<<"$err" || fail "$* did not say '$text' but: $err"
}

finish() {
    [[ $failures == 0 ]] || { echo "$failures failure(s)" >&2; exit 1; }
    echo "all passed"
}
