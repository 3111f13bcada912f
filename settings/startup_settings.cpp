#include "settings/startup_settings.h"

#include <charconv>
#include <limits>

#include "platform/profile.h"
#include "platform/text.h"

namespace velka::settings {
namespace {

constexpr std::size_t kPortPrefixLength = 3;  // the "COM" that the dialog writes

// Digits of one base, the whole of `digits`, into a value that fits in 32 bits
// once the sign is applied.
[[nodiscard]] bool ParseMagnitude(std::string_view digits, int base, bool negative,
                                  std::int32_t& out) {
    if (digits.empty()) return false;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (error != std::errc{} || end != digits.data() + digits.size()) return false;
    // Hexadecimal texts may spell a negative number by its bits, as "0xFFFFFFFF".
    const std::uint64_t limit =
        base == 16 ? std::numeric_limits<std::uint32_t>::max()
                   : std::uint64_t{std::numeric_limits<std::int32_t>::max()} + (negative ? 1 : 0);
    if (magnitude > limit) return false;
    const auto bits = static_cast<std::uint32_t>(negative ? 0 - magnitude : magnitude);
    out = static_cast<std::int32_t>(bits);
    return true;
}

}  // namespace

Result<std::int32_t> StrToInt(std::string_view text) {
    std::string_view rest = TrimBlanks(text);
    bool negative = false;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    int base = 10;
    if (rest.starts_with('$')) {
        base = 16;
        rest.remove_prefix(1);
    } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
        base = 16;
        rest.remove_prefix(2);
    }
    std::int32_t value = 0;
    // from_chars would take a second sign; only digits may follow.
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest = {};
    if (!ParseMagnitude(rest, base, negative, value)) {
        std::string message = "'";
        message.append(text).append("' is not a valid integer value");
        return Error{message};
    }
    return value;
}

std::int32_t ReadInteger(const std::string& ini_path, std::string_view section,
                         std::string_view key, std::int32_t default_value) {
    const std::string text = profile::ReadString(ini_path, section, key, "");
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && (digits.starts_with("0x") || digits.starts_with("0X"))) {
        base = 16;
        digits.remove_prefix(2);
    }
    bool negative = false;
    if (base == 10 && !digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    std::int32_t value = 0;
    return ParseMagnitude(digits, base, negative, value) ? value : default_value;
}

Status ReadStartupSettings(const std::string& ini_path, StartupSettings& settings) {
    settings = StartupSettings{};
    settings.reception = ReadInteger(ini_path, kSection, kMailCheckKey, 1) != 0;
    settings.delivery_reports = ReadInteger(ini_path, kSection, kDeliveryReportsKey, 0) != 0;
    settings.full_ucs2_segments = ReadInteger(ini_path, kSection, kFullUcs2PartsKey, 0) != 0;
    const auto port = ReadSerialPort(ini_path, kSection);
    if (!port) return port.error();
    settings.port = *port;
    return {};
}

Result<std::int32_t> ReadSerialPort(const std::string& ini_path, std::string_view section) {
    return PortOfText(profile::ReadString(ini_path, section, kSerialPortKey, ""));
}

Result<std::int32_t> PortOfText(std::string_view port_text) {
    if (port_text.size() <= kPortPrefixLength) return 0;
    return StrToInt(port_text.substr(kPortPrefixLength));
}

}  // namespace velka::settings
