#include "settings/port_discovery.h"

#include <algorithm>

namespace velka::settings {
namespace {

// The "PortName" of every installed instance of the modem, in enumeration order,
// duplicates kept. A missing value counts as an empty name, which matches no port.
std::vector<std::string> RecordedPortNames(Registry& registry) {
    std::vector<std::string> recorded;
    for (const char* device_key : kModemDeviceKeys) {
        auto instances = registry.SubKeys(device_key);
        if (!instances) continue;
        for (const std::string& instance : *instances) {
            const std::string parameters =
                std::string(device_key) + "\\" + instance + "\\Device Parameters";
            if (!registry.KeyExists(parameters)) continue;
            auto name = registry.ReadString(parameters, "PortName");
            recorded.push_back(name ? std::move(*name) : std::string());
        }
    }
    return recorded;
}

}  // namespace

std::vector<std::string> DiscoverModemPorts(Registry& registry) {
    const std::vector<std::string> recorded = RecordedPortNames(registry);
    // One call gives every port with its name: a long device map costs no more
    // round trips than a short one.
    auto present = registry.Values(kSerialDeviceMapKey);
    if (!present) return {};
    std::vector<std::string> ports;
    for (const RegistryValueInfo& port : *present) {
        if (port.type != RegistryValueType::String || port.text.empty()) continue;
        const auto records = std::count(recorded.begin(), recorded.end(), port.text);
        ports.insert(ports.end(), static_cast<std::size_t>(records), port.text);
    }
    return ports;
}

}  // namespace velka::settings
