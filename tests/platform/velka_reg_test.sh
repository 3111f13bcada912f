#!/usr/bin/env bash
# velka-reg round-trips a Cyrillic group key and value through add, query and
# delete, refuses to overwrite or delete without /f, and fails clearly.
# Usage: velka_reg_test.sh PATH-TO-velka-reg
set -euo pipefail
reg=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELKA_REGISTRY=$work/registry.db
group='HKLM\SOFTWARE\Velka\ZEDOzadev\Contacts\Друзья'

run_program() { "$reg" "$@"; }
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"

expect_output 'completed successfully' add "$group" /v +79161234567 /t REG_SZ /d 'Иван Петров'
expect_output '    +79161234567    REG_SZ    Иван Петров' query "$group" /v +79161234567
# Another spelling of the group names the same key; the created spelling is listed.
expect_output '    +79161234567    REG_SZ    Иван Петров' query 'HKEY_LOCAL_MACHINE\software\VELKA\zedozadev\contacts\дРУЗЬЯ'
expect_output 'HKEY_LOCAL_MACHINE\SOFTWARE\Velka\ZEDOzadev\Contacts\Друзья' query 'HKLM\SOFTWARE\Velka\ZEDOzadev\Contacts'

expect_refusal nonzero 'add /f' add "$group" /v +79161234567 /d 'Другой'
expect_output 'Иван Петров' query "$group" /v +79161234567
expect_output 'completed successfully' add "$group" /v +79161234567 /d 'Пётр' /f
expect_output 'REG_SZ    Пётр' query "$group" /v +79161234567

expect_output 'completed successfully' add 'HKLM\SOFTWARE\Velka\ZEDOzadev' /v MessageRef /t REG_DWORD /d 255
expect_output 'MessageRef    REG_DWORD    0xff' query 'HKLM\SOFTWARE\Velka\ZEDOzadev' /v messageref
expect_refusal nonzero 'not a DWORD' add 'HKLM\SOFTWARE\Velka\ZEDOzadev' /v X /t REG_DWORD /d 4294967296 /f
expect_refusal nonzero 'Windows-1251' add "$group" /v +7 /d '✓' /f
expect_refusal nonzero 'only HKLM' query 'HKCU\SOFTWARE'

expect_refusal nonzero 'add /f' delete "$group"
expect_output 'completed successfully' delete 'HKLM\SOFTWARE\Velka\ZEDOzadev\Contacts\ДРУЗЬЯ' /f
expect_refusal nonzero 'does not exist' query "$group"

finish
