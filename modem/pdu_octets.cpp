#include "modem/pdu_octets.h"

#include <charconv>

namespace velka::modem {

std::optional<unsigned> OctetAt(std::string_view hex, std::size_t at) {
    unsigned value = 0;
    if (at + 2 > hex.size()) return std::nullopt;
    const auto [end, error] = std::from_chars(hex.data() + at, hex.data() + at + 2, value, 16);
    if (error != std::errc() || end != hex.data() + at + 2) return std::nullopt;
    return value;
}

std::optional<std::size_t> TpduStart(std::string_view pdu) {
    const auto smsc = OctetAt(pdu, 0);
    if (!smsc) return std::nullopt;
    return 2 + 2 * static_cast<std::size_t>(*smsc);
}

}  // namespace velka::modem
