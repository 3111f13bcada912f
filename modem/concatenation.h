// Reading which part of a long message a received PDU is: the concatenation
// element of its user data header, with an 8-bit reference (element "00") or a
// 16-bit one ("08"). Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/parts_file.h"

namespace velka::modem {

// The concatenation facts of a user data header given as hexadecimal digits with
// its length octet first (as TSMS::DecodeText leaves it in UDH). Nothing when the
// header has no such element, or one whose numbers make no sense (no parts, a part
// number of 0 or beyond the total): such a message shows on its own.
std::optional<store::PartFacts> ReadConcatenation(std::string_view udh);

// The facts of a received PDU, read as MakeReceivedRecord reads its text.
std::optional<store::PartFacts> ConcatenationOf(const std::string& pdu);

}  // namespace velka::modem
