#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent and non-interactive: packages already present are left alone, and
# the package lists are refreshed only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  nlohmann-json3-dev  # velka-sms-cli's --json (header-only; the Windows build uses it too)
  libcpp-httplib-dev curl  # the gateway's HTTP server and the webhooks' client; curl runs docs/api.md
  python3  # the test scripts' JSON checks; splits cpp-httplib's source for the Windows build
  libssl-dev  # the webhooks' HMAC-SHA256 (libcrypto; Windows uses its own CNG)
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6svg6 fonts-dejavu-core
  # Qt's own texts in Russian (standard buttons, the edit fields' context menus).
  qt6-translations-l10n
  xvfb xauth
  locales
  # The Windows build and its tests: the mingw-w64 cross compiler (the -posix
  # variant, for std::thread) and Wine to run the tests.
  g++-mingw-w64-x86-64-posix mingw-w64-tools mingw-w64-x86-64-dev
  wine wine64
  # The static checks of ./test: the format check, clang-tidy, and the clang build
  # whose thread-safety analysis checks the locks. One version, 14, so that every
  # machine formats and warns alike.
  clang-14 clang-tidy-14 clang-format-14
  socat  # carries the virtual modem's control requests from the Windows tests (TCP)
  # The fuzz targets: clang with libFuzzer and its sanitizer runtimes.
  clang libclang-rt-14-dev
  # The Debian package and its checks: CPack's dependencies from dpkg-shlibdeps
  # (dpkg-dev, file), lintian, the menu entry's and the AppStream file's validators.
  dpkg-dev file lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine compares Cyrillic registry names ignoring case only in a Cyrillic locale.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  $sudo locale-gen > /dev/null
fi
