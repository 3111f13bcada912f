// The name udev gives its record of a character device ("c<major>:<minor>"), for
// tests that put a stand-in record beside a pseudo-terminal. POSIX only.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <optional>
#include <string>

namespace velka::testing {

// Nothing when the device cannot be looked at.
inline std::optional<std::string> UdevRecordName(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return std::nullopt;
    // Appended piece by piece: GCC 12 warns falsely of overlap on "c" + a string.
    std::string name = "c";
    name += std::to_string(major(info.st_rdev));
    name += ':';
    name += std::to_string(minor(info.st_rdev));
    return name;
}

}  // namespace velka::testing
