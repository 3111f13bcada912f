#include "modem/concatenation.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr std::uint8_t kConcatenation8 = 0x00;
constexpr std::uint8_t kConcatenation16 = 0x08;

std::optional<std::vector<std::uint8_t>> Octets(std::string_view hex) {
    try {
        const std::string bytes = HexToBytes(hex);
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::optional<store::PartFacts> FactsOf(std::uint8_t id, const std::uint8_t* data,
                                        std::size_t length) {
    store::PartFacts facts;
    if (id == kConcatenation8 && length == 3) {
        facts = {data[0], 8, data[1], data[2]};
    } else if (id == kConcatenation16 && length == 4) {
        facts = {static_cast<std::uint16_t>(data[0] << 8 | data[1]), 16, data[2], data[3]};
    } else {
        return std::nullopt;
    }
    if (facts.total == 0 || facts.number == 0 || facts.number > facts.total) return std::nullopt;
    return facts;
}

}  // namespace

std::optional<store::PartFacts> ReadConcatenation(std::string_view udh) {
    const auto octets = Octets(udh);
    if (!octets || octets->empty()) return std::nullopt;
    // The header's own length octet first, then elements of id, length, data.
    const std::size_t end = std::min<std::size_t>(octets->size(), 1 + (*octets)[0]);
    for (std::size_t at = 1; at + 2 <= end;) {
        const std::uint8_t id = (*octets)[at];
        const std::size_t length = (*octets)[at + 1];
        if (at + 2 + length > end) break;
        if (auto facts = FactsOf(id, octets->data() + at + 2, length)) return facts;
        at += 2 + length;
    }
    return std::nullopt;
}

std::optional<store::PartFacts> ConcatenationOf(const std::string& pdu) {
    TSMS sms;
    sms.ParsePDU(pdu);
    try {
        sms.DecodeText();
    } catch (const EConvertError&) {
        return std::nullopt;
    }
    if (!sms.HasUDH) return std::nullopt;
    return ReadConcatenation(sms.UDH);
}

}  // namespace velka::modem
