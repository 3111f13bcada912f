#include "settings/port_discovery.h"

#include <algorithm>

#include "platform/codepage.h"

namespace velka::settings {
namespace {

// The "PortName" of every installed instance of the devices under `device_keys`, in
// enumeration order, duplicates kept. A missing value counts as an empty name,
// which matches no port.
std::vector<std::string> RecordedPortNames(Registry& registry,
                                           const std::vector<std::string>& device_keys) {
    std::vector<std::string> recorded;
    for (const std::string& device_key : device_keys) {
        auto instances = registry.SubKeys(device_key);
        if (!instances) continue;
        for (const std::string& instance : *instances) {
            std::string parameters = device_key;
            parameters.append("\\").append(instance).append("\\Device Parameters");
            if (!registry.KeyExists(parameters)) continue;
            auto name = registry.ReadString(parameters, "PortName");
            recorded.push_back(name ? std::move(*name) : std::string());
        }
    }
    return recorded;
}

// The COM names of the serial device map, in its order. One call gives every port
// with its name: a long device map costs no more round trips than a short one.
std::vector<std::string> PresentPorts(Registry& registry) {
    auto present = registry.Values(kSerialDeviceMapKey);
    if (!present) return {};
    std::vector<std::string> ports;
    for (const RegistryValueInfo& port : *present) {
        if (port.type == RegistryValueType::String && !port.text.empty())
            ports.push_back(port.text);
    }
    return ports;
}

bool IsModemDeviceKey(const std::string& device_key) {
    return std::any_of(kModemDeviceKeys.begin(), kModemDeviceKeys.end(),
                       [&](const char* key) { return codepage::EqualIgnoreCase(key, device_key); });
}

// The device keys of every USB device but the modem's two identifiers.
std::vector<std::string> OtherUsbDeviceKeys(Registry& registry) {
    auto devices = registry.SubKeys(kUsbDevicesKey);
    if (!devices) return {};
    std::vector<std::string> keys;
    for (const std::string& device : *devices) {
        std::string key = std::string(kUsbDevicesKey) + "\\" + device;
        if (!IsModemDeviceKey(key)) keys.push_back(std::move(key));
    }
    return keys;
}

}  // namespace

std::vector<std::string> DiscoverModemPorts(Registry& registry) {
    const std::vector<std::string> recorded =
        RecordedPortNames(registry, {kModemDeviceKeys.begin(), kModemDeviceKeys.end()});
    std::vector<std::string> ports;
    for (const std::string& port : PresentPorts(registry)) {
        const auto records = std::count(recorded.begin(), recorded.end(), port);
        ports.insert(ports.end(), static_cast<std::size_t>(records), port);
    }
    return ports;
}

std::vector<std::string> DiscoverOtherUsbSerialPorts(Registry& registry) {
    const std::vector<std::string> recorded =
        RecordedPortNames(registry, OtherUsbDeviceKeys(registry));
    const std::vector<std::string> modems = DiscoverModemPorts(registry);
    std::vector<std::string> ports;
    for (const std::string& port : PresentPorts(registry)) {
        const bool usb = std::find(recorded.begin(), recorded.end(), port) != recorded.end();
        const bool modem = std::find(modems.begin(), modems.end(), port) != modems.end();
        const bool listed = std::find(ports.begin(), ports.end(), port) != ports.end();
        if (usb && !modem && !listed) ports.push_back(port);
    }
    return ports;
}

}  // namespace velka::settings
