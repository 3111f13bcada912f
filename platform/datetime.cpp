#include "platform/datetime.h"

namespace velka {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Appends a value of 0..9999 in decimal, with leading zeros to at least width digits.
void AppendDigits(std::string& text, int value, int width) {
    char digits[4];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 4);
    for (; count < width; ++count) digits[count] = '0';
    while (count > 0) text += digits[--count];
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

// Written digit by digit: the codec formats the time stamp of every message it
// decodes, and a formatted print cost more than the rest of the decoding.
std::string FormatDateTime(const DateTime& when) {
    std::string text;
    text.reserve(19);
    AppendDigits(text, when.day, 2);
    text += '.';
    AppendDigits(text, when.month, 2);
    text += '.';
    AppendDigits(text, when.year, 4);
    if (when.hour == 0 && when.minute == 0 && when.second == 0) return text;
    text += ' ';
    AppendDigits(text, when.hour, 1);
    text += ':';
    AppendDigits(text, when.minute, 2);
    text += ':';
    AppendDigits(text, when.second, 2);
    return text;
}

}  // namespace velka
