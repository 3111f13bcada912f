#!/usr/bin/env bash
# velka-sms-cli serve as a script meets it: the curl lines of docs/api.md run as
# they stand against the server on a virtual modem, a send followed to "sent",
# a wrong token refused, and the server ended by SIGTERM.
# Usage: velka_api_test.sh PATH-TO-velka-sms-cli PATH-TO-velka-modemsim PATH-TO-docs/api.md
set -euo pipefail
cli=$1
sim=$2
doc=$3
work=$(mktemp -d)
export VELKA_HOME=$work VELKA_REGISTRY=$work/registry.db

coproc SIM { exec "$sim" --count 2 --dir "$work/sim" 2>&1; }
server=""
hook=""
cleanup() {
    [[ -z $server ]] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
    [[ -z $hook ]] || { kill "$hook" 2>/dev/null; wait "$hook" 2>/dev/null; }
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
read -r -t 30 first <&"${SIM[0]}"
com1=$(awk '{print $3}' <<<"$first")

run_program() { "$cli" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"
# shellcheck source=../support/sms_cli_checks.sh
source "$(dirname "$0")/../support/sms_cli_checks.sh"
# shellcheck source=../support/api_checks.sh
source "$(dirname "$0")/../support/api_checks.sh"

expect_refusal 2 '--port takes 0 to 65535' serve --port 70000
expect_refusal 2 'serve takes --address A and --port P' serve --verbose
configure "$com1"
start_serve "$cli"
[[ $(stat -c %a "$work/api-token.txt") == 600 ]] || fail "the token file is open to others"
check_api_document "$doc"
stop_serve TERM

# An event the command line kept (receive posts nothing) is posted by the next
# serve: a receiver here writes each body it is given to a file.
python3 - "$work/hook.port" "$work/hook.bodies" <<'PY' &
import http.server, sys
class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        with open(sys.argv[2], "ab") as bodies:
            bodies.write(body + b"\n")
        self.send_response(204)
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Hook)
with open(sys.argv[1] + ".new", "w") as port:
    port.write(str(server.server_port))
import os; os.rename(sys.argv[1] + ".new", sys.argv[1])
server.serve_forever()
PY
hook=$!
for _ in $(seq 300); do [[ -s $work/hook.port ]] && break; sleep 0.1; done
configure "$com1"
printf '[Webhooks]\r\nUrl1=http://127.0.0.1:%s/hook\r\nEvents1=sms:received\r\n' "$(cat "$work/hook.port")" >>"$work/Config.ini"
"$sim" ctl --dir "$work/sim" inject 1 +79161234567 'kept by receive' >/dev/null
expect_output 'kept by receive' receive
[[ ! -e $work/hook.bodies ]] || fail "receive posted: $(cat "$work/hook.bodies")"
start_serve "$cli"
for _ in $(seq 300); do grep -qF 'kept by receive' "$work/hook.bodies" 2>/dev/null && break; sleep 0.1; done
grep -qF '"event":"sms:received"' "$work/hook.bodies" 2>/dev/null ||
    fail "serve did not post the event receive kept: $(cat "$work/hook.bodies" 2>/dev/null)"
stop_serve TERM
kill "$hook" && { wait "$hook" || true; }
hook=""
finish
