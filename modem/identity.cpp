#include "modem/identity.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string>

#include "platform/fnv.h"

namespace velka::modem {
namespace {

std::optional<unsigned> OctetAt(std::string_view hex, std::size_t at) {
    unsigned value = 0;
    if (at + 2 > hex.size()) return std::nullopt;
    const auto [end, error] = std::from_chars(hex.data() + at, hex.data() + at + 2, value, 16);
    if (error != std::errc() || end != hex.data() + at + 2) return std::nullopt;
    return value;
}

}  // namespace

std::uint64_t ReceivedIdentity(std::string_view pdu) {
    std::string upper(pdu);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto smsc = OctetAt(upper, 0);
    const std::size_t first_at = smsc ? 2 + 2 * static_cast<std::size_t>(*smsc) : upper.size();
    const auto first = OctetAt(upper, first_at);
    if (!first) return Fnv1a(upper);
    const char type = static_cast<char>('0' + (*first & 0x03));
    return Fnv1a(std::string_view(upper).substr(first_at + 2), Fnv1a(std::string_view(&type, 1)));
}

}  // namespace velka::modem
