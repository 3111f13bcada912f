#include "platform/device_manager.h"

namespace velka {

// Windows keeps HARDWARE\DEVICEMAP\SERIALCOMM and the USB device keys itself.
RegistryStatus RefreshSerialPortList(Registry&) {
    return {};
}

}  // namespace velka
