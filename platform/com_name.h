// How the system, the settings and the user name a serial port: "COM5".
#pragma once

#include <string>

namespace velka {

inline std::string ComName(unsigned number) {
    return "COM" + std::to_string(number);
}

}  // namespace velka
