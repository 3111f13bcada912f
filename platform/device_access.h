// Whether the user may open a serial device, and what stands in the way when not.
// On Linux a USB modem's port belongs to a group ("dialout") that an ordinary user
// is often not in, so that its opening fails with a bare "access denied"; this names
// the group so that the user can be told the remedy. On Windows a port refused is
// one another program holds, never a matter of the user's rights, so nothing is
// ever denied there.
//
// Any thread; each call asks the system afresh (it blocks on a stat of the device).
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace velka {

// A device the running user may not open for reading and writing.
struct DeviceDenial {
    std::string device;  // the path asked about ("/dev/ttyUSB0")
    std::string group;   // the group that owns it ("dialout"), or its number unnamed
    std::string user;    // who was refused, by name (or number)
    bool operator==(const DeviceDenial&) const = default;
};

// Why the running user may not open `device_path`, when it exists and permissions
// keep the user out; nothing when the user may, or when there is no such device
// (that is another failure: an unplugged modem).
std::optional<DeviceDenial> DeviceAccessDenial(const std::string& device_path);

// The same for the port the device map lists as `com_name` ("COM3"); nothing when
// it lists none.
std::optional<DeviceDenial> ComPortDenial(Registry& registry, const std::string& com_name);

}  // namespace velka
