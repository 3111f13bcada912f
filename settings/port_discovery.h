// Port discovery: the COM names of the modem devices connected now, found in the
// registry. A port is offered when an installed instance of the modem records it
// as its "PortName" and the serial device map lists it as present. On Windows the
// system keeps both areas; elsewhere the device manager (platform/device_manager.h)
// and the virtual modem keep them in the registry stand-in, so this one algorithm
// serves both.
//
// Blocks on the registry; any thread. Keys that cannot be read contribute nothing,
// silently: the worst outcome is an empty list, and the user may type a port.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace velka::settings {

// The USB device keys of the two identifiers the modem is sold under; one subkey
// per installed instance, with "Device Parameters\PortName" below it.
inline constexpr std::array<const char*, 2> kModemDeviceKeys = {
    "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_c251&Pid_1305",
    "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffff&Pid_1305",
};
inline constexpr char kSerialDeviceMapKey[] = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Where every USB device keeps its instances, one subkey per vendor and product.
inline constexpr char kUsbDevicesKey[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB";

// The ports, in the order of the serial device map. Names compare exactly, letter
// case included. A port recorded by two instances is listed twice, as it is two
// installations the user may want to tell apart in the registry.
std::vector<std::string> DiscoverModemPorts(Registry& registry);

// The serial ports of every other USB device present now (a modem of another
// maker, an adapter), each once, in the order of the serial device map, less those
// DiscoverModemPorts gives. Whether a modem answers on them is for a probe to say.
std::vector<std::string> DiscoverOtherUsbSerialPorts(Registry& registry);

}  // namespace velka::settings
