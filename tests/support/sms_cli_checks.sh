# The walk both velka-sms-cli scripts take through two modems: a Cyrillic text sent
# through $com1 to the second modem's number, both boxes listed, the text received
# through $com2. Needs expect.sh sourced first, and $work, $com1 and $com2.

# --json: one value a script can parse, UTF-8, every text escaped.
json_check() {  # json_check PYTHON-EXPRESSION-ON-d ARGS...
    local check=$1 out
    shift
    out=$(run_program "$@") || { fail "$* exited non-zero"; return; }
    python3 -c "import json, sys; d = json.loads(sys.stdin.read()); sys.exit(0 if ($check) else 1)" \
        <<<"$out" || fail "$*: '$check' does not hold for: $out"
}

configure() { printf '[DEVICEMAP]\r\nSerialPort=%s\r\nPerformMailCheck=0\r\n' "$1" >"$work/Config.ini"; }

check_send_and_receive() {
    expect_refusal 1 'No serial port is set' send +79990000002 Hi
    configure "$com1"
    expect_output '+79990000002: sent' send +79990000002 'Привет из Велки'
    expect_output $'+79990000002\t' outbox
    expect_output 'Привет из Велки' outbox
    # The SIM each message went through or came to, last: the virtual modems' ICCIDs
    # are 8970199, the modem's number's last 11 digits and a check digit.
    expect_output $'\t8970199799900000013' outbox
    json_check "d[0]['sim'] == '8970199799900000013' and d[0]['state'] == 'отправлено'" outbox --json
    configure "$com2"
    expect_output 'Привет из Велки' receive
    expect_output $'+79990000001\t' inbox
    json_check "d[0]['number'] == '+79990000001' and d[0]['text'].endswith('Привет из Велки') and '\n' in d[0]['text']" inbox --json
    json_check "d[0]['sim'] == '8970199799900000021'" inbox --json
    # The text stays the third column for scripts that cut it out. (Lines end in CR LF
    # on Windows.)
    [[ $(run_program inbox | tr -d '\r' | cut -f4) == 8970199799900000021 ]] ||
        fail "inbox: no SIM in the fourth column"
}
