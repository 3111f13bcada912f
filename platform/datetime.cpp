#include "platform/datetime.h"

#include <cstdio>

namespace velka {
namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<DateTime> MakeDateTime(int year, int month, int day, int hour, int minute,
                                     int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return DateTime{year, month, day, hour, minute, second};
}

std::string FormatDateTime(const DateTime& when) {
    char text[40];
    if (when.hour == 0 && when.minute == 0 && when.second == 0) {
        std::snprintf(text, sizeof text, "%02d.%02d.%04d", when.day, when.month, when.year);
    } else {
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %d:%02d:%02d", when.day, when.month,
                      when.year, when.hour, when.minute, when.second);
    }
    return text;
}

}  // namespace velka
