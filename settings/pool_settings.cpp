#include "settings/pool_settings.h"

#include <algorithm>

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

}  // namespace velka::settings
