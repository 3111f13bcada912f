#include "modem/identity.h"

#include <cctype>
#include <string>

#include "modem/pdu_octets.h"
#include "platform/fnv.h"

namespace velka::modem {

std::uint64_t ReceivedIdentity(std::string_view pdu) {
    std::string upper(pdu);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t first_at = TpduStart(upper).value_or(upper.size());
    const auto first = OctetAt(upper, first_at);
    if (!first) return Fnv1a(upper);
    const char type = static_cast<char>('0' + (*first & 0x03));
    return Fnv1a(std::string_view(upper).substr(first_at + 2), Fnv1a(std::string_view(&type, 1)));
}

}  // namespace velka::modem
