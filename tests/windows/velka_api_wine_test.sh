#!/usr/bin/env bash
# The Windows velka-sms-cli serve under Wine: the curl lines of docs/api.md run
# against it on COM5 (the first virtual modem), a send followed to "sent", a wrong
# token refused, and the server ended by Ctrl-C. Run by scripts/windows-tests.sh,
# which maps the ports.
# Usage: velka_api_wine_test.sh PATH-TO-velka-sms-cli.exe PATH-TO-docs/api.md
set -euo pipefail
cli=$1
doc=$2
work=$(mktemp -d)
server=""
cleanup() {
    [[ -z $server ]] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT
export VELKA_HOME="Z:$work"

run_program() { wine "$cli" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"
# shellcheck source=../support/sms_cli_checks.sh
source "$(dirname "$0")/../support/sms_cli_checks.sh"
# shellcheck source=../support/api_checks.sh
source "$(dirname "$0")/../support/api_checks.sh"

configure "COM$VELKA_TEST_COM"
start_serve wine "$cli"
check_api_document "$doc"

stop_serve INT
finish
