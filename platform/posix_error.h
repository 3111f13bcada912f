// The error of the last failed POSIX call on a file, as an Error naming the file.
// For the POSIX implementation files of platform/ only.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/result.h"

namespace velka {

// REQUIRES: errno still holds the failed call's code.
inline Error PosixFileError(const std::string& what, const std::string& path) {
    const int code = errno;
    return Error{what + " \"" + path + "\": " + std::strerror(code), code};
}

}  // namespace velka
