// Date and time as the program shows and stores them: the Russian regional
// defaults, short date "dd.MM.yyyy", a blank, long time "H:mm:ss" (hour without a
// leading zero), and at exactly midnight the date alone. Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velka {

struct DateTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..days in month
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    bool operator==(const DateTime&) const = default;
};

// The date and time, or nothing when they do not exist (month 0, 31 April, hour 25).
std::optional<DateTime> MakeDateTime(int year, int month, int day, int hour, int minute,
                                     int second);

// The local time of the machine now.
DateTime NowLocal();

// The machine's local time at a moment (seconds since 1970 UTC), and back: the
// moment local time reads `when`. A time a clock change skips is taken as after
// the change, and one it repeats as its first reading, as the C library's mktime
// decides; counters that reset at local midnight only need a moment on the right
// side of the boundary.
DateTime LocalTimeAt(std::int64_t unix_seconds);
std::int64_t MomentOfLocal(const DateTime& when);

// "06.12.2026 20:52:41"; "06.12.2026" at 00:00:00.
std::string FormatDateTime(const DateTime& when);

// A date-time text of the store ("08.12.2026 9:05:00", "08.12.2026" at midnight)
// as a key that sorts in time order ("120261208090500"); a text of another form
// (an empty one: a time stamp that named no real date) sorts before every date.
std::string DateTimeKey(std::string_view datetime);

}  // namespace velka
