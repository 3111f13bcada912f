// The device manager: on Windows the system keeps the USB device keys and the list
// of serial ports in the registry; elsewhere this does the same job inside the
// registry stand-in, so that port discovery runs one algorithm everywhere.
//
// Keys it keeps:
//   SYSTEM\CurrentControlSet\Enum\USB\Vid_xxxx&Pid_yyyy\<instance>\Device Parameters
//       PortName = "COMn", given to a USB port instance once and kept for it;
//   HARDWARE\DEVICEMAP\SERIALCOMM
//       one value per serial port present now: name = device path, data = "COMn".
// Entries written by others (the virtual modem's pseudo-terminal) stay in
// SERIALCOMM while their device path exists.
//
// Any thread; each call reads /sys and the registry afresh. Blocks for file I/O.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace velka {

inline constexpr char kUsbEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";
inline constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// One serial port with a USB parent, as a scan finds it.
struct UsbSerialPort {
    std::string device_path;  // "/dev/ttyUSB0"
    std::string vendor_id;    // four lower-case hexadecimal digits, "c251"
    std::string product_id;
    std::string instance;  // names the port among those of its vendor and product
};

class DeviceManager {
  public:
    // The roots are "/sys" and "/dev" on a real system; tests give a tree of their own.
    explicit DeviceManager(Registry& registry, std::string sys_root = "/sys",
                           std::string dev_root = "/dev");

    // The serial ports with a USB parent present now.
    std::vector<UsbSerialPort> Scan() const;
    // Scans and brings the USB keys and SERIALCOMM up to date.
    RegistryStatus Refresh();
    // Lists a serial device that has no USB parent (a pseudo-terminal) in SERIALCOMM
    // under the lowest free COM name, or the name it already has. Returns the name.
    RegistryResult<std::string> RegisterPort(const std::string& device_path);
    // Removes a device's SERIALCOMM entry; nothing when it has none.
    RegistryStatus UnregisterPort(const std::string& device_path);

  private:
    RegistryResult<std::string> LowestFreeComName();
    RegistryStatus RecordUsbPort(const UsbSerialPort& port);
    RegistryStatus DropVanishedPorts();

    Registry& registry_;
    std::string sys_root_;
    std::string dev_root_;
};

// Brings the serial device map up to date before a list of ports is shown, so that
// a modem plugged in since the last opening of a port is offered. On Windows the
// system keeps the map itself and this does nothing. A refused write leaves the
// last listing, which still names every port not replugged since.
RegistryStatus RefreshSerialPortList(Registry& registry);

// The device path listed in SERIALCOMM with the data com_name ("COM5", compared
// ignoring case); nothing when no port has that name.
std::optional<std::string> DevicePathOfComName(Registry& registry, const std::string& com_name);

}  // namespace velka
