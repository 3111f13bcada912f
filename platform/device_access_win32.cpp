#include "platform/device_access.h"

namespace velka {

// A COM port that Windows refuses is held by another program; the settings of the
// user never keep a port from them.
std::optional<DeviceDenial> DeviceAccessDenial(const std::string&) {
    return std::nullopt;
}

std::optional<DeviceDenial> ComPortDenial(Registry&, const std::string&) {
    return std::nullopt;
}

}  // namespace velka
