// Config.ini for a test's program directory: which port the worker drives and
// whether it receives.
#pragma once

#include <string>

#include "platform/profile.h"

namespace velka::testing {

// Writes "SerialPort" and "PerformMailCheck" into the Config.ini at `path`; true
// when both were written.
inline bool WriteModemConfig(const std::string& path, const std::string& port, bool reception) {
    return profile::WriteString(path, "DEVICEMAP", "SerialPort", port).ok() &&
           profile::WriteString(path, "DEVICEMAP", "PerformMailCheck", reception ? "1" : "0").ok();
}

}  // namespace velka::testing
