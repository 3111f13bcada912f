#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <string>

#include "platform/device_manager.h"
#include "platform/modem_manager.h"

namespace velka {
namespace {

bool AllDigits(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name) {
        if (std::isdigit(static_cast<unsigned char>(*name)) == 0) return false;
    }
    return true;
}

}  // namespace

bool ModemManagerRunning(const SystemPlaces& places) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(places.proc.c_str()), ::closedir);
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!AllDigits(entry->d_name)) continue;
        std::ifstream comm(places.proc + "/" + entry->d_name + "/comm");
        std::string name;
        // A process that ended between the listing and the reading reads empty.
        if (std::getline(comm, name) && name == "ModemManager") return true;
    }
    return false;
}

ModemManagerMark ModemManagerMarkOf(const std::string& device_path, const SystemPlaces& places) {
    struct stat info {};
    if (::stat(device_path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return ModemManagerMark::Unmanaged;
    }
    // udev's record of a device: one property a line, "E:NAME=VALUE" (systemd's
    // udev, and eudev, since 2012).
    std::ifstream record(places.udev_data + "/c" + std::to_string(major(info.st_rdev)) + ":" +
                         std::to_string(minor(info.st_rdev)));
    if (!record) return ModemManagerMark::Unmanaged;
    std::string line;
    while (std::getline(record, line)) {
        if (line == "E:ID_MM_DEVICE_IGNORE=1") return ModemManagerMark::Ignored;
    }
    return ModemManagerMark::Probed;
}

ModemManagerMark ModemManagerMarkOfPort(Registry& registry, const std::string& com_name,
                                        const SystemPlaces& places) {
    const std::optional<std::string> path = DevicePathOfComName(registry, com_name);
    return path ? ModemManagerMarkOf(*path, places) : ModemManagerMark::Unmanaged;
}

}  // namespace velka
