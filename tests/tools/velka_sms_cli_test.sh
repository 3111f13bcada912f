#!/usr/bin/env bash
# velka-sms-cli as a user drives it: two virtual modems, a text sent from the first
# to the second and received there, the boxes listed, and clear refusals.
# Usage: velka_sms_cli_test.sh PATH-TO-velka-sms-cli PATH-TO-velka-modemsim
set -euo pipefail
cli=$1
sim=$2
work=$(mktemp -d)
export VELKA_HOME=$work VELKA_REGISTRY=$work/registry.db

coproc SIM { exec "$sim" --count 2 --dir "$work/sim" 2>&1; }
trap 'kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; rm -rf "$work"' EXIT
# The simulator prints one line per modem once it serves them.
read -r -t 30 first <&"${SIM[0]}"
read -r -t 30 second <&"${SIM[0]}"
com1=$(awk '{print $3}' <<<"$first")
com2=$(awk '{print $3}' <<<"$second")

run_program() { "$cli" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"
# shellcheck source=../support/sms_cli_checks.sh
source "$(dirname "$0")/../support/sms_cli_checks.sh"

expect_output "$com1	$work/sim/modem1	Velka Virtual GSM Modem" ports
check_send_and_receive

# A Config.ini written by hand under the usual umask is open to others: the next
# start closes it and says so on stderr, once.
rm "$work/Config.ini"
(umask 022 && configure "$com2")
expect_refusal 0 'доступ к ним есть только у владельца: Config.ini.' inbox
[[ $(stat -c %a "$work/Config.ini") == 600 ]] || fail "Config.ini is still open to others"
[[ -z $("$cli" inbox 2>&1 >/dev/null) ]] || fail "the closing was said again"
expect_output "operator	Velka Net" status
expect_output "port	$com2" status
expect_output "announcements	on" status
expect_output "queue	0" status
expect_output 'Velka SMS\nhttps://' inbox

json_check "d['port'] == '$com2' and d['signal'] == 20 and d['queue'] == 0 and d['sim'] == 'ready'" status --json

# The identity and the limits of the SIM in the modem. The first modem sent one
# text above; its counts are looked at by the month, which a run does not cross
# but at its very end. A SIM never set up has counts and no limits.
identity1=$("$sim" ctl --dir "$work/sim" identity 1)
imei1=$(awk '$1 == "imei" {print $2}' <<<"$identity1")
iccid1=$(awk '$1 == "iccid" {print $2}' <<<"$identity1")
imsi1=$(awk '$1 == "imsi" {print $2}' <<<"$identity1")
configure "$com1"
expect_output "imei	$imei1" status
expect_output "recipients-month	1" status
json_check "d['modems'][0]['sim']['recipients_month'] == {'sent': 1, 'limit': None} and \
    d['modems'][0]['sim']['name'] is None" status --json
# Config.ini is Windows-1251, as the program writes it.
printf '[SIM %s]\r\nName=Рабочая\r\nMessagesPerHour=60\r\nRecipientsPerMonth=1000\r\nPauseSeconds=5\r\n' \
    "$iccid1" | iconv -f UTF-8 -t WINDOWS-1251 >>"$work/Config.ini"
for line in "port	$com1" "queue	0" "iccid	$iccid1" "imsi	$imsi1" "sim-name	Рабочая" \
    "recipients-month	1/1000" "pause	5"; do
    expect_output "$line" status
done
status_check="len(d['modems']) == 1 and d['queue'] == 0 and d['port'] == '$com1'"
status_check+=" and [m['port'], m['state'], m['operator'], m['signal'], m['imei'], m['iccid'], m['imsi']]"
status_check+=" == ['$com1', 'ready', 'Velka Net', 20, '$imei1', '$iccid1', '$imsi1']"
status_check+=" and m['sim']['key'] == '$iccid1' and m['sim']['name'] == 'Рабочая'"
status_check+=" and m['sim']['hour']['limit'] == 60 and m['sim']['day']['limit'] is None"
status_check+=" and m['sim']['recipients_month'] == {'sent': 1, 'limit': 1000}"
status_check+=" and m['sim']['pause_seconds'] == 5"
json_check "(lambda m: $status_check)(d['modems'][0])" status --json
# Limits Config.ini cannot read, counters that cannot be read: status still tells
# the rest, and says why on stderr; nothing is written over.
printf 'MessagesPerDay=many\r\n' >>"$work/Config.ini"
expect_refusal 0 "Лимиты SIM в Config.ini не читаются: MessagesPerDay: 'many'" status
json_check "d['modems'][0]['sim']['settings_error'].startswith('MessagesPerDay')" status --json
grep -q 'MessagesPerDay=many' "$work/Config.ini" || fail "the unreadable limit was written over"
mv "$work/sim-counters.db" "$work/sim-counters.kept"
mkdir "$work/sim-counters.db"
expect_refusal 0 'Счётчики SIM (sim-counters.db) не читаются' status
json_check "d['modems'][0]['sim']['hour']['sent'] is None and 'counters_error' in d['modems'][0]['sim']" status --json
rmdir "$work/sim-counters.db"
mv "$work/sim-counters.kept" "$work/sim-counters.db"
json_check "len(d) == 1" inbox --parts --json
expect_refusal 2 'usage:' inbox --json --json
expect_refusal 2 'usage:' status --parts
# A pool of the two: the other modem is a line of its own, and in the JSON array.
printf '[Modem 2]\r\nSerialPort=%s\r\n' "$com2" >>"$work/Config.ini"
imei2=$("$sim" ctl --dir "$work/sim" identity 2 | awk '$1 == "imei" {print $2}')
expect_output "modem	$com2	ready	Velka Net	20	$imei2" status
json_check "[m['port'] for m in d['modems']] == ['$com1', '$com2'] and d['modems'][1]['imei'] == '$imei2'" status --json
# receive takes from every modem of the pool, each message noted with its SIM; one
# with reception off keeps its messages; one that fails does not stop the others.
configure "$com1"
printf '[Modem 2]\r\nSerialPort=%s\r\n' "$com2" >>"$work/Config.ini"
"$sim" ctl --dir "$work/sim" inject 1 +79161112233 'to the first' >/dev/null
"$sim" ctl --dir "$work/sim" inject 2 +79161112233 'to the second' >/dev/null
out=$("$cli" receive 2>&1) || fail "a pool's receive failed: $out"
grep -qF 'to the first' <<<"$out" && grep -qF 'to the second' <<<"$out" &&
    grep -qF '2 message(s) received' <<<"$out" || fail "a pool's receive said: $out"
json_check "[m['sim'] for m in d if m['number'] == '+79161112233'] == ['8970199799900000013', '8970199799900000021']" inbox --json
printf 'Receive=0\r\n' >>"$work/Config.ini"
"$sim" ctl --dir "$work/sim" inject 2 +79161112233 'left on the second' >/dev/null
expect_output '0 message(s) received' receive
sed -i '/^Receive=0/d' "$work/Config.ini"
"$sim" ctl --dir "$work/sim" inject 1 +79161112233 'the first answers' >/dev/null
"$sim" ctl --dir "$work/sim" fault 2 silent on >/dev/null
out=$("$cli" receive 2>&1) && fail "a pool's receive with a silent modem succeeded: $out"
grep -qF 'the first answers' <<<"$out" && grep -qF "$com2: " <<<"$out" ||
    fail "a pool's receive with a silent modem said: $out"
"$sim" ctl --dir "$work/sim" fault 2 clear >/dev/null
expect_output 'left on the second' receive
# A port that is gone is said, not left a blank line.
configure COM40
expect_refusal 1 'COM40: порт не найден' receive
configure "$com2"
# An 8-bit data message (coding 04): control characters, a quote, a backslash, a
# line break and Russian (Windows-1251), a zero byte and more. Both listings still
# parse; the text is a description, never raw bytes, and the payload comes whole
# as hexadecimal.
data=011F2022686922205C200D0A09CFF0E8E2E5F200656E64
# The service centre, SMS-DELIVER from +79161234567, coding 04, its time, 23 octets.
pdu=07919700000000F0040B919761214365F7000452101221430021"17$data"
"$sim" ctl --dir "$work/sim" inject-pdu 2 "$pdu" >/dev/null
expect_output '1 message(s) received' receive
data_check="d[-1]['number'] == '+79161234567' and \
    d[-1]['text'] == '[двоичное сообщение, 23 байта]' and d[-1]['data'] == '$data'"
json_check "$data_check" inbox --json
json_check "$data_check" inbox --parts --json

# An inbox the disk refuses (a directory in its place): the message stays on the
# modem, the failure is said, and a later receive stores it.
configure "$com1"
expect_output '+79990000002: sent' send +79990000002 'the second one'
configure "$com2"
mv "$work/inbox.db" "$work/inbox.kept" && mkdir "$work/inbox.db"
expect_refusal 1 '1 message(s) stay on the modem until they can be saved.' receive
rmdir "$work/inbox.db" && mv "$work/inbox.kept" "$work/inbox.db"
expect_output 'the second one' receive
configure "$com1"
expect_output '+79990000002: sent' send +79990000002 $'a "quote", a \\ and\ta tab'
json_check "d[-1]['text'].endswith('a \"quote\", a \\\\ and\\ta tab')" outbox --json
# Emoji and other scripts go out whole; the outbox and the receiving side's inbox
# show them as typed.
expect_output '+79990000002: sent' send +79990000002 'Γειά 你好 👍'
json_check "d[-1]['text'] == 'Γειά 你好 👍'" outbox --json
configure "$com2"
expect_output '你好' receive
json_check "d[-1]['text'].endswith('Γειά 你好 👍')" inbox --json
configure "$com1"

expect_refusal 2 "'12ab' is not a telephone number" send 12ab Hi
expect_refusal 2 "'+123456789012345678901' has more than 20 digits" send +123456789012345678901 Hi
expect_refusal 2 'at most 1024' send +79990000001 "$(head -c 1100 /dev/zero | tr '\0' x)"
expect_refusal 2 'send needs NUMBER' send +79990000001
expect_refusal 2 '--via needs a modem' send +79990000001 Hi --via
expect_refusal 2 'at most 40 bytes' send +79990000001 Hi --via "$(head -c 41 /dev/zero | tr '\0' 7)"
expect_refusal 2 'usage:' frobnicate
# A SIM that wants its PIN: a wrong one is refused and said in Russian, the right
# one from VELKA_PIN lets the message through.
"$sim" ctl --dir "$work/sim" fault 2 pin 2468 >/dev/null
"$sim" ctl --dir "$work/sim" inject 2 +79161234567 behind-the-pin >/dev/null
configure "$com2"
expect_refusal 1 'Неверный PIN-код. Осталось попыток: 2.' --pin 1357 receive
VELKA_PIN=2468 expect_output 'behind-the-pin' receive

# With a webhook set, what the command line takes off the SIM or records as sent
# has its event kept in events.db first, for the next process that serves to post
# (nobody listens on port 9: the command line posts nothing).
hook_config() { configure "$1" && printf '[Webhooks]\r\nUrl1=http://127.0.0.1:9/hook\r\n' >>"$work/Config.ini"; }
hook_config "$com2"
"$sim" ctl --dir "$work/sim" inject 2 +79161234567 'told to the hook' >/dev/null
expect_output 'told to the hook' receive
grep -qaF 'told to the hook' "$work/events.db" || fail "receive kept no event of the message it took off the SIM"
grep -qaF '"event":"sms:received"' "$work/events.db" || fail "receive kept no sms:received event"
hook_config "$com1"
expect_output '+79990000002: sent' send +79990000002 'sent with a hook set'
grep -qaF 'sent with a hook set' "$work/events.db" || fail "send kept no event of the record it sent"
grep -qaF '"event":"sms:sent"' "$work/events.db" || fail "send kept no sms:sent event"

configure COMx
expect_refusal 1 "'x' is not a valid integer value" receive
"$sim" ctl --dir "$work/sim" fault 1 silent on >/dev/null
configure "$com1"
expect_refusal 1 'the rest stay queued and go out at the next start' send +79990000002 'left queued' --timeout 1
expect_output '+79990000002: queued' send +79990000002 'queued only' --no-wait
"$sim" ctl --dir "$work/sim" fault 1 silent off >/dev/null

# One worker per modem: while "watch" drives it, a "send" is told who does, queues
# its record and returns; the running worker sends it and the ones left queued.
# Watch prints each status report it keeps and each message as it arrives.
"$sim" ctl --dir "$work/sim" fault 1 reports cdsi >/dev/null
printf 'DeliveryReports=1\r\n' >>"$work/Config.ini"  # each message asks for its report
"$cli" watch 2>"$work/watch.err" >"$work/watch.out" &
watch_pid=$!
for _ in $(seq 100); do grep -q 'watching' "$work/watch.err" && break; sleep 0.1; done
expect_refusal 0 "is driven by velka-sms-cli (pid $watch_pid)" send +79990000002 'through the watcher'
expect_output '+79990000002: queued' send +79990000002 'also through the watcher'
expect_refusal 1 "driven by velka-sms-cli (pid $watch_pid)" receive
sent_all() {
    local out
    out=$("$cli" outbox)
    for text in 'left queued' 'queued only' 'through the watcher' 'also through the watcher'; do
        grep -qF -- "$text" <<<"$out" || return 1
    done
}
for _ in $(seq 300); do sent_all && break; sleep 0.1; done
sent_all || fail "the running worker did not send what was queued for it: $("$cli" outbox)"
"$sim" ctl --dir "$work/sim" inject 1 +79161234567 'arrived while watching' >/dev/null
watched() { grep -qF $'report\t+79990000002\t' "$work/watch.out" && grep -qF $'+79161234567\t' "$work/watch.out" && grep -qF 'arrived while watching' "$work/watch.out"; }
for _ in $(seq 300); do watched && break; sleep 0.1; done
watched || fail "watch did not print the report and the arrival: $(cat "$work/watch.out")"
grep -qF 'delivered' "$work/watch.out" || fail "watch did not say the message was delivered: $(cat "$work/watch.out")"
kill -INT "$watch_pid" && wait "$watch_pid" || fail "watch did not end on Ctrl-C"
# The outbox as JSON carries each message's delivery state: sent before reports were
# asked for, delivered once the watcher kept its report.
json_check "d[0]['state'] == 'отправлено' and any(m['state'].startswith('доставлено ') for m in d)" outbox --json
json_check "all('state' not in m for m in d)" inbox --json


# Contacts: an Outlook export of the Russian edition (Windows-1251, ';') gives one
# contact per number; a number stored under another name in another group is
# skipped unless --update, and the report says so; an unknown header is refused
# with its columns until the command line names them, then remembered.
printf '"Имя";"Фамилия";"Мобильный телефон";"Рабочий телефон";"Категории"\r\n"Пётр";"Ильин";"+7 (916) 123-45-67";"8 495 111-22-33";"Друзья;Работа"\r\n' |
    iconv -f UTF-8 -t CP1251 >"$work/outlook.csv"
expect_output 'Импортировано: 2' contacts import "$work/outlook.csv"
printf 'name,number,group\nПётр Ильич,+79161234567,Семья\nАнна,+79030000001,Семья\n' >"$work/other.csv"
expect_output '+79161234567: "Пётр Ильин" в группе "Друзья", в файле "Пётр Ильич"' contacts import "$work/other.csv"
json_check "d['imported'] == 1 and d['other_names'][0]['stored_group'] == 'Друзья' and d['other_names_action'] == 'update'" \
    contacts import "$work/other.csv" --update --json
printf 'Кто;Заметка;Куда\nВера;;8 900 000-00-01\n' >"$work/unknown.csv"
expect_refusal 2 '1 «Кто», 2 «Заметка», 3 «Куда»' contacts import "$work/unknown.csv"
expect_output 'Импортировано: 1' contacts import "$work/unknown.csv" --name-column 1 --number-column 3 --group Дом
expect_output 'Пропущено: 1' contacts import "$work/unknown.csv" --group Дом  # the columns remembered
expect_refusal 2 'исключают друг друга' contacts import "$work/other.csv" --update --skip
expect_refusal 1 'no-such.vcf' contacts import "$work/no-such.vcf"
expect_output '' contacts export "$work/family.csv" --group Семья
[[ $(cat "$work/family.csv") == $'name,number,group\r\nАнна,+79030000001,Семья\r\nПётр Ильич,+79161234567,Семья\r' ]] ||
    fail "the exported group is not as imported: $(cat "$work/family.csv")"
expect_output '' contacts export "$work/all.vcf"
[[ $(grep -c '^BEGIN:VCARD' "$work/all.vcf") == 5 ]] || fail "not every contact was exported: $(cat "$work/all.vcf")"
expect_refusal 1 'no/such/folder' contacts export "$work/no/such/folder/x.vcf"

# The SIM's phone book as the window imports it: UCS2 names, "+" before an
# international number; a SIM without one refused with the modem's words.
configure "$com2"
expect_output $'1\t+79161234567\tИван Петров' sim-contacts
expect_output $'2\t89031234567\tMaria [work]' sim-contacts
json_check "[e['index'] for e in d] == [1, 2, 5] and d[0]['name'] == 'Иван Петров' and \
    d[0]['number'] == '+79161234567' and d[0]['type'] == 145 and d[2]['name'] == 'Service €'" \
    sim-contacts --json
"$sim" ctl --dir "$work/sim" fault 2 phone-book missing >/dev/null
expect_refusal 1 'На SIM-карте нет телефонной книги, или модем не даёт её прочитать (+CME ERROR: 4).' sim-contacts
"$sim" ctl --dir "$work/sim" fault 2 clear >/dev/null
expect_refusal 2 'usage:' sim-contacts --parts
rm "$work/Config.ini"
expect_refusal 1 'No serial port is set' sim-contacts

# USSD: a balance in Russian, a modem that takes only packed requests and answers
# packed, a menu walked by replies (--json), a code the network does not serve.
configure "$com1"
expect_output 'Баланс: 57,10 р.' ussd '*100#'
"$sim" ctl --dir "$work/sim" fault 1 ussd-request packed >/dev/null
"$sim" ctl --dir "$work/sim" fault 1 ussd-form packed >/dev/null
expect_output 'Balance 99.00 RUB' ussd '*101#'
expect_output 'Тариф «Базовый» подключён' ussd '*111#' 2 1
json_check "[s['status'] for s in d] == ['question', 'question', 'done'] and \
    d[0]['text'] == 'Меню:\n1 Баланс\n2 Тарифы' and d[2]['message'] is None" ussd '*111#' 2 1 --json
expect_refusal 1 'Сеть не поддерживает этот запрос.' ussd '*555#'
expect_refusal 1 'before the reply' ussd '*100#' 1
expect_refusal 2 'ussd needs a CODE' ussd
expect_refusal 2 'ussd takes CODE' ussd '*100#' --timeout
# Through a modem of a pool named by its port, while the first one is silent.
printf '[Modem 2]\r\nSerialPort=%s\r\n' "$com2" >>"$work/Config.ini"
expect_refusal 1 'Модем «COM99» не найден' ussd '*100#' --via COM99
"$sim" ctl --dir "$work/sim" fault 1 silent on >/dev/null
expect_output 'Баланс: 57,10 р.' ussd '*100#' --via "$com2"
expect_refusal 1 'does not answer' ussd '*100#'
expect_refusal 1 'does not answer' ussd '*100#' --via "$com1"
"$sim" ctl --dir "$work/sim" fault 1 clear >/dev/null

finish
