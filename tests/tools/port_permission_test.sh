#!/usr/bin/env bash
# A port the user may not open: velka-sms-cli says so in Russian and in English,
# with the group that owns the device and the command that adds the user to it,
# and fails; "ports" marks it.
# Usage: port_permission_test.sh PATH-TO-velka-sms-cli PATH-TO-velka-modemsim
set -euo pipefail
cli=$1
sim=$2
work=$(mktemp -d)
chmod 0755 "$work"
# shellcheck source=../support/as_user.sh
source "$(dirname "$0")/../support/as_user.sh"
user_owns "$work"
export VELKA_HOME=$work VELKA_REGISTRY=$work/registry.db

# The virtual modem runs as the user too, so that its files are the user's.
coproc SIM { exec "${as_user_prefix[@]}" "$sim" --count 1 --dir "$work/sim" 2>&1; }
trap 'kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; rm -rf "$work"' EXIT
read -r -t 30 line <&"${SIM[0]}"
device=$(awk '{print $2}' <<<"$line")
com=$(awk '{print $3}' <<<"$line")
printf '[DEVICEMAP]\r\nSerialPort=%s\r\nPerformMailCheck=0\r\n' "$com" > "$work/Config.ini"
chmod 0600 "$work/Config.ini" && user_owns "$work/Config.ini"
# Nobody but root may open it now: not its owner, not its group.
chmod 0000 "$(readlink -f "$device")"
group=$(stat -L -c %G "$device")
user=$(as_user id -un)

run_program() { as_user "$cli" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"

expect_refusal 1 "Нет прав на порт модема $device" status
expect_refusal 1 "sudo usermod -aG $group $user" status
expect_refusal 1 "permission denied on the modem's port $device: the device belongs to group $group" status
expect_refusal 1 "Нет прав на порт модема" receive
expect_output "$com	$device	no permission (group $group)" ports

finish
