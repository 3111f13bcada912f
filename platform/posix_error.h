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
    // Not strerror: it may write its text into one buffer shared by every thread, and
    // the worker and the front end both report file errors. The GNU strerror_r
    // gives the same text from a buffer of the caller's.
    char buffer[256];
    return Error{what + " \"" + path + "\": " + ::strerror_r(code, buffer, sizeof buffer), code};
}

}  // namespace velka
