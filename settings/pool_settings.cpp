#include "settings/pool_settings.h"

#include <algorithm>

#include "platform/profile.h"
#include "settings/startup_settings.h"

namespace velka::settings {
namespace {

constexpr std::string_view kSendKey = "Send";
constexpr std::string_view kReceiveKey = "Receive";

PoolModem ModemOf(const std::string& ini_path, int number, std::int32_t port) {
    const std::string section = ModemSection(number);
    return {port, ReadInteger(ini_path, section, kSendKey, 1) != 0,
            ReadInteger(ini_path, section, kReceiveKey, 1) != 0};
}

bool Named(const std::vector<PoolModem>& modems, std::int32_t port) {
    return std::any_of(modems.begin(), modems.end(),
                       [port](const PoolModem& modem) { return modem.port == port; });
}

// What a read gives for a missing key; no value of the file holds a control character.
constexpr std::string_view kMissing = "\x01";

// Sets the key unless it already reads `text`; a missing key stays missing while
// `text` is what its absence means.
Status Keep(const std::string& ini_path, const std::string& section, std::string_view key,
            const std::string& text, std::string_view absence_means) {
    const std::string current = profile::ReadString(ini_path, section, key, kMissing);
    if (current == text || (current == kMissing && text == absence_means)) return {};
    return profile::WriteString(ini_path, section, key, text);
}

Status WriteModem(const std::string& ini_path, int number, const PoolModem& modem) {
    const std::string section = ModemSection(number);
    if (number > 1) {
        std::string port = "COM";
        port.append(std::to_string(modem.port));
        if (Status kept = Keep(ini_path, section, kSerialPortKey, port, ""); !kept) return kept;
    }
    if (Status kept = Keep(ini_path, section, kSendKey, modem.sends ? "1" : "0", "1"); !kept)
        return kept;
    return Keep(ini_path, section, kReceiveKey, modem.receives ? "1" : "0", "1");
}

}  // namespace

std::string ModemSection(int number) {
    return "Modem " + std::to_string(number);
}

Result<std::vector<PoolModem>> ReadPoolModems(const std::string& ini_path,
                                              std::int32_t first_port) {
    std::vector<PoolModem> modems;
    if (first_port == 0) return modems;
    modems.push_back(ModemOf(ini_path, 1, first_port));
    for (int number = 2; number <= kMostModems; ++number) {
        const auto port = ReadSerialPort(ini_path, ModemSection(number));
        if (!port) {
            std::string message = "[";
            message.append(ModemSection(number))
                .append("] SerialPort: ")
                .append(port.error().message);
            return Error{message};
        }
        if (*port == 0 || Named(modems, *port)) continue;
        modems.push_back(ModemOf(ini_path, number, *port));
    }
    return modems;
}

Status WritePoolModems(const std::string& ini_path, const std::vector<PoolModem>& modems) {
    const int written = static_cast<int>(std::min<std::size_t>(modems.size(), kMostModems));
    for (int number = 1; number <= written; ++number) {
        if (Status kept =
                WriteModem(ini_path, number, modems[static_cast<std::size_t>(number - 1)]);
            !kept)
            return kept;
    }
    for (int number = std::max(written + 1, 2); number <= kMostModems; ++number) {
        if (Status removed = profile::DeleteSection(ini_path, ModemSection(number)); !removed)
            return removed;
    }
    return {};
}

}  // namespace velka::settings
