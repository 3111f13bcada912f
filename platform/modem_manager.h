// ModemManager, the service that comes with NetworkManager on Linux desktops, opens
// every new USB serial device for about half a minute to probe it with AT commands
// of its own, and keeps the modems it recognises. A device that a udev rule marks
// ID_MM_DEVICE_IGNORE is left alone; the package's rule marks the modems the client
// knows. These tell whether the service runs and whether a device carries the mark,
// so that the client can say what to do when it does not. Windows has no such
// service: it never runs there.
//
// Any thread; each call reads the system afresh (small files under /proc and /run).
#pragma once

#include <string>

#include "platform/registry.h"

namespace velka {

// Where the system shows its processes and udev its devices' properties; tests give
// trees of their own.
struct SystemPlaces {
    std::string proc = "/proc";
    std::string udev_data = "/run/udev/data";
};

// Whether a process named ModemManager runs (the name the service's program gives
// its process, as /proc/PID/comm shows it).
bool ModemManagerRunning(const SystemPlaces& places = {});

// What ModemManager makes of a device.
enum class ModemManagerMark {
    Unmanaged,  // udev keeps no record of it (a pseudo-terminal): the service never sees it
    Ignored,    // marked ID_MM_DEVICE_IGNORE=1: the service leaves it alone
    Probed,     // a device udev announces, unmarked: the service probes it
};

// The mark of the character device at `device_path` (links followed), from udev's
// record of its properties ("E:KEY=VALUE" lines in places.udev_data/c<major>:<minor>).
ModemManagerMark ModemManagerMarkOf(const std::string& device_path,
                                    const SystemPlaces& places = {});

// The mark of the port the device map lists as `com_name` ("COM3"); Unmanaged when it
// lists none.
ModemManagerMark ModemManagerMarkOfPort(Registry& registry, const std::string& com_name,
                                        const SystemPlaces& places = {});

}  // namespace velka
