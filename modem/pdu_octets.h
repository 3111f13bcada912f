// Reading a PDU's octets from its hexadecimal text without decoding it: enough to
// find its TPDU past the SMSC part. Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace velka::modem {

// The octet written by the two hexadecimal digits at `at`; nothing past the end
// or for anything but two digits.
std::optional<unsigned> OctetAt(std::string_view hex, std::size_t at);

// Where the TPDU begins, in characters: past the SMSC part, whose first octet
// gives its length. Nothing when that octet cannot be read.
std::optional<std::size_t> TpduStart(std::string_view pdu);

}  // namespace velka::modem
