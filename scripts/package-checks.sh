#!/usr/bin/env bash
# Builds the Debian package from a Release build that is already built, and checks
# it without installing anything: lintian shows no error; unpacked into a
# temporary folder, it holds the five programs, the menu entry (valid for
# desktop-file-validate), the AppStream file (valid for appstreamcli), the icon,
# the manual pages, the udev rule and Debian's files, each with its mode and owner;
# its dependencies name the libraries the programs link; and the installed
# programs keep an ordinary user's files in that user's data folder.
# Usage: scripts/package-checks.sh BUILD-DIR (build/release)
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 0755 "$work"

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

echo "-- cpack"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
debs=("$build"/packages/velka-sms_*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || { echo "no single package in $build/packages" >&2; exit 1; }
deb=${debs[0]}
echo "$deb"

echo "-- lintian"
# Errors fail the check; warnings and notes are shown for whoever reads the log.
lintian --fail-on error --info "$deb" || fail "lintian reports errors"

echo "-- the package's contents"
root=$work/root
dpkg-deb -x "$deb" "$root"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == velka-sms ]] || fail "package name: $(field Package)"
depends=$(field Depends)
for library in libqt6widgets6 libqt6svg6 libsqlite3-0 libstdc++6 libc6; do
    grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done

expect_mode() {  # expect_mode MODE PATH...
    local mode=$1 path
    shift
    for path in "$@"; do
        if [[ ! -e $root/$path ]]; then
            fail "missing: /$path"
        elif [[ $(stat -c %a "$root/$path") != "$mode" ]]; then
            fail "/$path has mode $(stat -c %a "$root/$path"), not $mode"
        fi
    done
}
id=example.velka_sms.VelkaSMS
programs=(velka-sms velka-sms-cli velka-pdu velka-reg velka-modemsim)
for program in "${programs[@]}"; do
    expect_mode 755 "usr/bin/$program"
    expect_mode 644 "usr/share/man/man1/$program.1.gz"
    # Each page reads without a warning from man.
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$root/usr/share/man/man1/$program.1.gz" 2>&1 > /dev/null) || true
    [[ -z $warnings ]] || fail "man page of $program: $warnings"
done
expect_mode 644 "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" usr/lib/udev/rules.d/70-velka-sms.rules \
    usr/share/doc/velka-sms/copyright usr/share/doc/velka-sms/changelog.gz
# Everything is root's and lies under /usr.
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[[ $owners == root/root ]] || fail "files owned by $owners"
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' || true)
[[ -z $outside ]] || fail "files outside /usr: $outside"
# A program linked to a library in the build folder would not start installed.
for program in "${programs[@]}"; do
    if readelf -d "$root/usr/bin/$program" | grep -qE 'RPATH|RUNPATH'; then
        fail "$program keeps a library search path"
    fi
done

echo "-- the menu entry and the AppStream file"
desktop=$root/usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the menu entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" \
    || fail "appstreamcli refuses the AppStream file"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[[ $(entry 'Name\[ru\]') == 'Velka SMS' ]] || fail "no Russian name"
[[ $(entry 'Comment\[ru\]') == 'Отправка и приём SMS через GSM-модем' ]] || fail "no Russian comment"
[[ $(entry Categories) == *Network\;Telephony\;* ]] || fail "categories: $(entry Categories)"
[[ -x $root/usr/bin/$(entry Exec) ]] || fail "the entry starts $(entry Exec), which is not installed"
[[ $(entry Icon) == "$id" ]] || fail "the entry's icon $(entry Icon) is not the installed one"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$root/usr/share/metainfo/$id.metainfo.xml" || fail "the AppStream file launches another entry"

echo "-- the udev rule"
rules=$root/usr/lib/udev/rules.d/70-velka-sms.rules
for vendor in c251 ffff; do
    line=$(grep "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"$vendor\", ATTRS{idProduct}==\"1305\"" "$rules" || true)
    [[ $line == *'ENV{ID_MM_DEVICE_IGNORE}="1"'* ]] || fail "$vendor:1305 is not kept from ModemManager"
    [[ $line == *'TAG+="uaccess"'* ]] || fail "$vendor:1305 is not opened to the user at the machine"
    grep -q "ATTR{idVendor}==\"$vendor\", ATTR{idProduct}==\"1305\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"" \
        "$rules" || fail "the USB device $vendor:1305 is not kept from ModemManager"
done

echo "-- the installed programs and an ordinary user's files"
# shellcheck source=../tests/support/as_user.sh
source tests/support/as_user.sh
chmod -R a-w "$root/usr/bin"
mkdir "$work/home" && user_owns "$work/home"
as_installed() { env -u VELKA_HOME -u VELKA_REGISTRY -u XDG_DATA_HOME HOME="$work/home" \
    "${as_user_prefix[@]}" "$root/usr/bin/$@"; }
as_installed velka-reg add 'HKLM\SOFTWARE\Velka\ZEDOzadev\Contacts\Друзья' /v +79161234567 \
    /d 'Иван Петров' > /dev/null || fail "the installed velka-reg failed"
as_installed velka-sms-cli send +79161234567 'Привет' --no-wait 2> /dev/null \
    || fail "the installed velka-sms-cli failed"
data=$work/home/.local/share/velka-sms
[[ -f $data/registry.db && -f $data/queue.db ]] || fail "the user's files are not in $data"
# The window starts from the entry's command and keeps running (offscreen).
code=0
VELKA_HOME=$work/home QT_QPA_PLATFORM=offscreen timeout 5 \
    "${as_user_prefix[@]}" "$root/usr/bin/velka-sms" > "$work/client.log" 2>&1 || code=$?
[[ $code == 124 ]] || fail "velka-sms ended at once (status $code): $(cat "$work/client.log")"

[[ $failures == 0 ]] || { echo "$failures failure(s)" >&2; exit 1; }
echo "package checks passed: $deb"
