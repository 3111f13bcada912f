#!/usr/bin/env bash
# Where an installed program keeps its files: copies of velka-reg and velka-sms-cli
# in a folder the user cannot write keep the registry, Config.ini and the queue in
# the user's data folder ($XDG_DATA_HOME/velka-sms, else ~/.local/share/velka-sms),
# both in the same one; VELKA_HOME still overrides it; copies in a folder the user
# may write keep them beside themselves.
# Usage: data_folder_test.sh PATH-TO-velka-reg PATH-TO-velka-sms-cli
set -euo pipefail
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 0755 "$work"
# shellcheck source=../support/as_user.sh
source "$(dirname "$0")/../support/as_user.sh"
unset VELKA_HOME VELKA_REGISTRY XDG_DATA_HOME

mkdir -p "$work/installed" "$work/home" "$work/unpacked"
cp "$1" "$2" "$work/installed/"
cp "$1" "$2" "$work/unpacked/"
chmod 0555 "$work/installed"
user_owns "$work/home" "$work/unpacked"
contacts='HKLM\SOFTWARE\Velka\ZEDOzadev\Contacts\Друзья'

run_program() { HOME=$work/home as_user "$work/installed/velka-reg" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"

data=$work/home/.local/share/velka-sms
expect_output 'completed successfully' add "$contacts" /v +79161234567 /d 'Иван Петров'
[[ -f $data/registry.db ]] || fail "the registry is not in $data"
[[ $(stat -c %a "$data") == 700 ]] || fail "$data is open to others: $(stat -c %a "$data")"
[[ ! -e $work/installed/registry.db ]] || fail "the registry went beside the program"

# velka-sms-cli finds the same folder: what it queues lands there.
run_program() { HOME=$work/home as_user "$work/installed/velka-sms-cli" "$@"; }
expect_output 'queued' send +79990000002 'в папку пользователя' --no-wait
[[ -f $data/queue.db ]] || fail "the queue is not in $data"

# XDG_DATA_HOME, when set, names the folder.
mkdir -p "$work/xdg" && user_owns "$work/xdg"
run_program() { HOME=$work/home XDG_DATA_HOME=$work/xdg as_user "$work/installed/velka-reg" "$@"; }
expect_output 'completed successfully' add "$contacts" /v +79031112233 /d 'Мария'
[[ -f $work/xdg/velka-sms/registry.db ]] || fail "XDG_DATA_HOME was not followed"

# VELKA_HOME overrides both.
mkdir -p "$work/instance" && user_owns "$work/instance"
run_program() { HOME=$work/home VELKA_HOME=$work/instance as_user "$work/installed/velka-reg" "$@"; }
expect_output 'completed successfully' add "$contacts" /v +79035556677 /d 'Пётр'
[[ -f $work/instance/registry.db ]] || fail "VELKA_HOME was not followed"

# A program in a folder the user may write (a build folder, an unpacked copy)
# keeps its files beside itself, as it always did.
run_program() { HOME=$work/home as_user "$work/unpacked/velka-reg" "$@"; }
expect_output 'completed successfully' add "$contacts" /v +79036667788 /d 'Анна'
[[ -f $work/unpacked/registry.db ]] || fail "the registry did not stay beside the program"

# No home and no XDG_DATA_HOME: the program's own folder, whose refusal names it.
run_program() { as_user env -u HOME "$work/installed/velka-reg" "$@"; }
expect_refusal 1 "$work/installed" add "$contacts" /v +79037778899 /d 'Олег'

finish
