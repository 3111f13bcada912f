// The exit statuses of velka-sms-cli, the same for every command, and the one way
// a failure is said.
#pragma once

#include <cstdio>
#include <string>

namespace velka::cli {

inline constexpr int kFailed = 1;    // the work failed: not sent in time, no modem, a file refused
inline constexpr int kBadInput = 2;  // a wrong command line

// Says `message` (UTF-8) on stderr after the program's name; gives `status`.
inline int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "velka-sms-cli: %s\n", message.c_str());
    return status;
}

}  // namespace velka::cli
