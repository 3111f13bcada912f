# Checks of the HTTP API for test scripts that start velka-sms-cli serve. The
# sourcing script has sourced expect.sh, defines run_program and work (the
# program's home as a path of this machine), and has configured the modem.

# start_serve COMMAND...: COMMAND (the program, as run_program starts it) serving
# on a free port of 127.0.0.1, in the background; sets server (its process id)
# and api_port once it says where it serves. The program itself, not run_program:
# a function in the background is a shell of its own, which a signal would end
# instead of the program.
start_serve() {
    "$@" serve --port 0 2>"$work/serve.log" &
    server=$!
    for _ in $(seq 300); do
        grep -q 'serving http' "$work/serve.log" && break
        sleep 0.1
    done
    api_port=$(sed -n 's|.*serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.log")
    [[ -n $api_port ]] || { cat "$work/serve.log" >&2; fail "serve did not start"; finish; }
}

# stop_serve SIGNAL: ends serve with SIGNAL (TERM; INT, which Wine turns into the
# console's Ctrl-C), which it must end on well.
stop_serve() {
    local status=0
    kill "-$1" "$server"
    wait "$server" || status=$?
    server=""
    [[ $status == 0 ]] || fail "serve ended with $status on SIG$1"
}

# check_api_document DOC: the setting lines of DOC (docs/api.md), then its curl
# lines, in order, against the server on api_port: the send followed to "sent",
# every read answered without an error, the status knowing the modem, and a wrong
# token refused.
check_api_document() {
    local doc=$1 VELKA_HOME=$work VELKA_API VELKA_TOKEN ID sent state line out lines
    examples() { awk '/^```sh$/ {inside = 1; next} /^```/ {inside = 0} inside' "$doc"; }
    eval "$(examples | grep -v '^curl')"
    VELKA_API=http://127.0.0.1:$api_port/api/v1
    mapfile -t lines < <(examples | grep '^curl')
    [[ ${#lines[@]} -ge 6 ]] || fail "$doc has only ${#lines[@]} curl examples"
    sent=$(eval "${lines[0]}")
    ID=$(python3 -c 'import json, sys; print(json.loads(sys.stdin.read())["messages"][0]["id"])' <<<"$sent") ||
        fail "the send answered: $sent"
    state=""
    for _ in $(seq 600); do
        state=$(eval "${lines[1]}" | python3 -c 'import json, sys; print(json.loads(sys.stdin.read())["state"])')
        [[ $state == sent || $state == delivered ]] && break
        sleep 0.1
    done
    [[ $state == sent || $state == delivered ]] || fail "the message is still '$state'"
    for line in "${lines[@]:2}"; do
        out=$(eval "$line") || fail "$line failed"
        python3 -c 'import json, sys; d = json.loads(sys.stdin.read()); sys.exit("error" in d)' <<<"$out" ||
            fail "$line answered: $out"
    done
    grep -q 'Заказ 1042 готов' <<<"$(eval "${lines[5]}")" || fail "the outbox lacks the text sent"
    # The status comes from the worker's events, which serve shares with its own.
    python3 -c 'import json, sys; m = json.loads(sys.stdin.read())["modem"]; sys.exit(not (m["ready"] and m["operator"] == "Velka Net"))' \
        <<<"$(eval "${lines[2]}")" || fail "the status does not know the modem: $(eval "${lines[2]}")"

    local code
    code=$(curl -s -o /dev/null -w '%{http_code}' -H 'Authorization: Bearer wrong' "$VELKA_API/status")
    [[ $code == 401 ]] || fail "a wrong token got $code"
}
