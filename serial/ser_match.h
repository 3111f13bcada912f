// The search that WaitForString and the data triggers both run over received
// characters, one character at a time, so that a text split across reads is found.
// Pure; any thread.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/codepage.h"

namespace velka {

// Feeds one received character to the search for `text` (not empty) of which the
// first `matched` characters (fewer than all) have come; gives the new count, which
// is text.size() once the whole text has come. A restart search: after a mismatch
// only a character equal to the first of `text` starts a new match, so "AAB" is not
// found in "AAAB". With ignore_case, Windows-1251 upper-case forms compare.
inline std::size_t AdvanceMatch(std::string_view text, std::size_t matched, char received,
                                bool ignore_case) {
    const auto fold = [ignore_case](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return ignore_case ? codepage::UpperByte(byte) : byte;
    };
    if (fold(received) == fold(text[matched])) return matched + 1;
    return fold(received) == fold(text[0]) ? 1 : 0;
}

}  // namespace velka
