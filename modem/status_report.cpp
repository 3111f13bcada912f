#include "modem/status_report.h"

#include <charconv>
#include <optional>

#include "modem/pdu_octets.h"
#include "platform/datetime.h"
#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr int kStatusReportType = 2;  // TP-MTI
constexpr std::size_t kTimeStampDigits = 14;

std::optional<int> Octet(std::string_view hex, std::size_t at) {
    const auto octet = OctetAt(hex, at);
    if (!octet) return std::nullopt;
    return static_cast<int>(*octet);
}

// A time stamp's seven octets from `at` as date-time text; empty for no real date.
std::string TimeStampText(std::string_view hex, std::size_t at) {
    if (at + kTimeStampDigits > hex.size()) return {};
    const std::string digits = SwapSemiOctets(hex.substr(at, 12));
    int parts[6] = {};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto [end, error] =
            std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, parts[i]);
        if (error != std::errc() || end != digits.data() + 2 * i + 2) return {};
    }
    const auto when =
        MakeDateTime(2000 + parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
    return when ? FormatDateTime(*when) : std::string();
}

}  // namespace

bool IsStatusReport(std::string_view pdu) {
    const auto first_at = TpduStart(pdu);
    const auto first = first_at ? Octet(pdu, *first_at) : std::nullopt;
    return first && (*first & 0x03) == kStatusReportType;
}

store::StatusReport ParseStatusReport(std::string_view pdu, std::string received) {
    store::StatusReport report;
    report.received = std::move(received);
    report.pdu = std::string(pdu);
    const std::size_t at = TpduStart(pdu).value_or(pdu.size()) + 2;  // past the first octet
    report.reference = Octet(pdu, at).value_or(-1);
    const auto digits = Octet(pdu, at + 2);
    if (!digits) return report;
    const std::size_t address_digits = (static_cast<std::size_t>(*digits) + 1) / 2 * 2;
    const std::size_t address_end = at + 6 + address_digits;
    if (address_end > pdu.size()) return report;
    report.recipient = TSMS::DecodeAddress(pdu.substr(at + 4, 2 + address_digits));
    report.centre_time = TimeStampText(pdu, address_end);
    report.discharged = TimeStampText(pdu, address_end + kTimeStampDigits);
    report.status = Octet(pdu, address_end + 2 * kTimeStampDigits).value_or(-1);
    return report;
}

}  // namespace velka::modem
