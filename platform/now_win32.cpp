// The local time on Windows, as the system clock and its time zone give it.
#include <windows.h>

#include "platform/datetime.h"

namespace velka {
namespace {

// FILETIME counts 100-nanosecond ticks from 1601; Unix time counts seconds from 1970.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kUnixEpochInTicks = 116'444'736'000'000'000;

DateTime DateTimeOf(const SYSTEMTIME& local) {
    return DateTime{local.wYear, local.wMonth,  local.wDay,
                    local.wHour, local.wMinute, local.wSecond};
}

}  // namespace

DateTime NowLocal() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return DateTimeOf(local);
}

DateTime LocalTimeAt(std::int64_t unix_seconds) {
    const auto ticks =
        static_cast<std::uint64_t>(unix_seconds * kTicksPerSecond + kUnixEpochInTicks);
    const FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FileTimeToSystemTime(&file, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    return DateTimeOf(local);
}

std::int64_t MomentOfLocal(const DateTime& when) {
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(when.year);
    local.wMonth = static_cast<WORD>(when.month);
    local.wDay = static_cast<WORD>(when.day);
    local.wHour = static_cast<WORD>(when.hour);
    local.wMinute = static_cast<WORD>(when.minute);
    local.wSecond = static_cast<WORD>(when.second);
    SYSTEMTIME utc{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    FILETIME file{};
    SystemTimeToFileTime(&utc, &file);
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - kUnixEpochInTicks) / kTicksPerSecond;
}

}  // namespace velka
