#include "gateway/gateway_settings.h"

#include <charconv>
#include <utility>

#include "platform/profile.h"

namespace velka::gateway {

GatewaySettings ReadGatewaySettings(const std::string& config_file) {
    GatewaySettings settings;
    settings.enabled = profile::ReadString(config_file, kGatewaySection, "Enabled", "0") == "1";
    const std::string address = profile::ReadString(config_file, kGatewaySection, "Address", "");
    if (!address.empty()) settings.address = address;
    const std::string port = profile::ReadString(config_file, kGatewaySection, "Port", "");
    int value = 0;
    const auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (problem == std::errc() && end == port.data() + port.size() && value > 0 && value <= 65535)
        settings.port = value;
    return settings;
}

Status WriteGatewaySettings(const std::string& config_file, const GatewaySettings& settings) {
    for (const auto& [key, value] : {
             std::pair<const char*, std::string>{"Enabled", settings.enabled ? "1" : "0"},
             {"Address", settings.address},
             {"Port", std::to_string(settings.port)},
         }) {
        if (Status written = profile::WriteString(config_file, kGatewaySection, key, value);
            !written)
            return written;
    }
    return {};
}

}  // namespace velka::gateway
