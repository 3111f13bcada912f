// The exit statuses of velka-sms-cli, the same for every command.
#pragma once

namespace velka::cli {

inline constexpr int kFailed = 1;    // the work failed: not sent in time, no modem, a file refused
inline constexpr int kBadInput = 2;  // a wrong command line

}  // namespace velka::cli
