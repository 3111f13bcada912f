// The local time on POSIX, through the C library's time zone.
#include <chrono>
#include <ctime>

#include "platform/datetime.h"

namespace velka {

DateTime NowLocal() {
    return LocalTimeAt(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

DateTime LocalTimeAt(std::int64_t unix_seconds) {
    const auto moment = static_cast<std::time_t>(unix_seconds);
    std::tm local{};
    localtime_r(&moment, &local);
    return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::int64_t MomentOfLocal(const DateTime& when) {
    std::tm local{};
    local.tm_year = when.year - 1900;
    local.tm_mon = when.month - 1;
    local.tm_mday = when.day;
    local.tm_hour = when.hour;
    local.tm_min = when.minute;
    local.tm_sec = when.second;
    local.tm_isdst = -1;  // the C library decides whether summer time applies
    return static_cast<std::int64_t>(std::mktime(&local));
}

}  // namespace velka
