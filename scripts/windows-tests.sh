#!/usr/bin/env bash
# Runs the tests of the Windows build under Wine: a Wine prefix of its own under
# the build directory, the virtual modem (a Linux program of the Linux build) on
# pseudo-terminals mapped to COM5 and COM6, its control channel on a local TCP
# port, then ctest. The device tests run twice: on the bare pseudo-terminal, which
# has no modem lines, and with the Linux build's library that gives it some.
# Usage: windows-tests.sh WINDOWS-BUILD-DIR LINUX-BUILD-DIR [CTEST-ARGS...]
set -euo pipefail
build=$(realpath "$1")
linux=$(realpath "$2")
shift 2
modemsim="$linux/tools/modemsim/velka-modemsim"

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
# Cyrillic registry names compare ignoring case only in a Cyrillic locale (code page 1251).
export LC_ALL=ru_RU.UTF-8
# Wine's .NET and HTML engines are not needed, and asking for them would stall.
export WINEDLLOVERRIDES="mscoree=;mshtml="
run="$build/wine-run"
rm -rf "$run"
mkdir -p "$run"

pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >> "$run/wine.log" 2>&1 || true
}
trap finish EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "-- creating the Wine prefix $WINEPREFIX"
  wineboot -i >> "$run/wine.log" 2>&1
  wineserver -w
fi

# The virtual modems; each prints "modem: LINK COMn NUMBER" once it serves.
exec 3< <(VELKA_REGISTRY="$run/modemsim-registry.db" exec "$modemsim" --dir "$run/modemsim" --count 2)
pids+=($!)
links=()
for _ in 1 2; do
  read -r -u 3 word link _ || { echo "velka-modemsim did not start" >&2; exit 1; }
  [ "$word" = "modem:" ] || { echo "velka-modemsim: $word $link" >&2; exit 1; }
  links+=("$link")
done

# Its control channel, reachable from Windows programs (Wine has no UNIX sockets),
# on the first port, from one derived from this process's id, that nothing else
# listens on and that our relay then answers on.
listening() { (exec 4<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=
for attempt in $(seq 0 19); do
  candidate=$((20000 + ($$ + attempt * 997) % 20000))
  listening "$candidate" && continue
  socat "TCP-LISTEN:$candidate,bind=127.0.0.1,reuseaddr,fork" \
    "UNIX-CONNECT:$run/modemsim/control" 2>> "$run/socat.log" &
  relay=$!
  for _ in $(seq 50); do
    kill -0 "$relay" 2>/dev/null || break
    listening "$candidate" && { port=$candidate; break; }
    sleep 0.1
  done
  [ -n "$port" ] && { pids+=("$relay"); break; }
  kill "$relay" 2>/dev/null || true
done
[ -n "$port" ] || { echo "no free TCP port for the virtual modems' control channel" >&2; exit 1; }

# COM5 and COM6 are the modems' links, which follow a modem that is unplugged and
# plugged in again; Wine reads its port map when the server starts.
# The server's own output (object dumps at its end) goes to the log, not the report.
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "${links[0]}" /f >> "$run/wine.log" 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "${links[1]}" /f >> "$run/wine.log" 2>&1
wineserver -k >> "$run/wine.log" 2>&1
wineserver -w
wineserver -p >> "$run/wine.log" 2>&1
wine wineboot >> "$run/wine.log" 2>&1

export VELKA_TEST_COM=5 VELKA_TEST_PEER_COM=6 VELKA_TEST_CONTROL="127.0.0.1:$port"
export VELKA_TEST_MODEMSIM="$modemsim" VELKA_TEST_MODEMSIM_DIR="$run/modemsim"
export VELKA_TEST_MODEM_LINES="$linux/tests/wine/libvelka_wine_modem_lines.so"
cd "$build"
ctest -L windows --output-on-failure "$@"
