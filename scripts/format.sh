#!/usr/bin/env bash
# Formats every C++ file git knows of by the root .clang-format, in place.
#   scripts/format.sh           rewrite the files that differ
#   scripts/format.sh --check   change nothing; print each place that differs and
#                               fail when there is one (./test runs this)
# One clang-format version for everyone: another version formats some constructs
# differently, and the check would then fail on a tree that is clean.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=clang-format-14
mapfile -t files < <(git ls-files '*.cpp' '*.h')

case "${1:-}" in
    --check) exec "$clang_format" --dry-run -Werror "${files[@]}" ;;
    "") exec "$clang_format" -i "${files[@]}" ;;
    *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
