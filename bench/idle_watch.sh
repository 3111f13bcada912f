#!/usr/bin/env bash
# Idle cost and idle traffic of `velka-sms-cli watch`: reception on, an empty SIM on
# one virtual modem that announces arrivals. After the first reception cycle, for
# SECONDS (default 60): the processor time of the whole watch process (utime +
# stime of /proc/PID/stat) as a share of one core, and the AT commands the modem
# received (from its transcript), in all and per 30 s, AT+CSQ apart.
#
#   bench/idle_watch.sh [SECONDS] [BUILD_DIR]     (after cmake --build BUILD_DIR)
#   VELKA_SIM_FAULT='cnmi refuse' bench/idle_watch.sh    the same with a modem that
#                                                        announces nothing, for comparison
set -euo pipefail
seconds=${1:-60}
build=${2:-build/release}
cli=$build/tools/velka-sms-cli/velka-sms-cli
sim=$build/tools/modemsim/velka-modemsim
[[ -x $cli && -x $sim ]] || { echo "idle_watch.sh: build velka-sms-cli and velka-modemsim first" >&2; exit 2; }
work=$(mktemp -d)
export VELKA_HOME=$work VELKA_REGISTRY=$work/registry.db

coproc SIM { exec "$sim" --count 1 --dir "$work/sim" 2>&1; }
watch_pid=
cleanup() {
    [[ -n $watch_pid ]] && kill -INT "$watch_pid" 2>/dev/null && wait "$watch_pid" 2>/dev/null
    kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
read -r -t 30 line <&"${SIM[0]}"
com=$(awk '{print $3}' <<<"$line")
printf '[DEVICEMAP]\r\nSerialPort=%s\r\nPerformMailCheck=1\r\n' "$com" >"$work/Config.ini"
if [[ -n ${VELKA_SIM_FAULT:-} ]]; then
    # shellcheck disable=SC2086 # the words of the fault
    "$sim" ctl --dir "$work/sim" fault 1 $VELKA_SIM_FAULT >/dev/null
fi

"$cli" watch 2>"$work/watch.err" >/dev/null &
watch_pid=$!
for _ in $(seq 100); do grep -q 'watching' "$work/watch.err" && break; sleep 0.1; done
sleep 5  # the opening, its initialisation and the first reception cycle

cpu_ticks() { awk '{print $14 + $15}' "/proc/$watch_pid/stat"; }
# Commands the modem received so far: carriage returns written to it.
commands() { "$sim" ctl --dir "$work/sim" transcript 1 | grep ' > ' | grep -o "${1:-}[^\\]*\\\\r" | wc -l; }

ticks_before=$(cpu_ticks)
commands_before=$(commands)
signal_before=$(commands 'AT+CSQ')
sleep "$seconds"
ticks_after=$(cpu_ticks)
commands_after=$(commands)
signal_after=$(commands 'AT+CSQ')

hz=$(getconf CLK_TCK)
awk -v t=$((ticks_after - ticks_before)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "idle cost: %d ticks of %d Hz in %d s = %.4f %% of one core\n", t, hz, s, 100 * t / hz / s }'
all=$((commands_after - commands_before))
signal=$((signal_after - signal_before))
awk -v all="$all" -v signal="$signal" -v s="$seconds" \
    'BEGIN { printf "idle traffic: %d AT commands in %d s (%d AT+CSQ) = %.1f per 30 s besides the signal reading\n", all, s, signal, 30 * (all - signal) / s }'
