#!/usr/bin/env bash
# The Windows velka-sms-cli under Wine, end to end over the modem dialogue: a text
# sent through COM5 (the first virtual modem) and received through COM6 (the
# second), the boxes listed, and clear refusals. Run by scripts/windows-tests.sh,
# which maps the ports and names the simulator in VELKA_TEST_MODEMSIM(_DIR).
# Usage: velka_sms_cli_wine_test.sh PATH-TO-velka-sms-cli.exe
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELKA_HOME="Z:$work"
com1=COM$VELKA_TEST_COM
com2=COM$VELKA_TEST_PEER_COM

run_program() { wine "$cli" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"
# shellcheck source=../support/sms_cli_checks.sh
source "$(dirname "$0")/../support/sms_cli_checks.sh"

expect_output "$com1" ports
check_send_and_receive

expect_refusal 2 "'12ab' is not a telephone number" send 12ab Hi
"$VELKA_TEST_MODEMSIM" ctl --dir "$VELKA_TEST_MODEMSIM_DIR" fault 1 silent on >/dev/null
configure "$com1"
expect_refusal 1 'not every message was sent within 1 s' send +79990000002 Hi --timeout 1
"$VELKA_TEST_MODEMSIM" ctl --dir "$VELKA_TEST_MODEMSIM_DIR" fault 1 clear >/dev/null

finish
