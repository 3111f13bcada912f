#include "platform/datetime.h"

namespace velka {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads up to `width` digits at `at`, at least one; advances past them.
bool ReadNumber(std::string_view text, std::size_t& at, std::size_t width, std::string& out) {
    const std::size_t start = at;
    while (at < text.size() && at - start < width && IsDigit(text[at])) ++at;
    if (at == start) return false;
    out += std::string(width - (at - start), '0');
    out += text.substr(start, at - start);
    return true;
}

bool Expect(std::string_view text, std::size_t& at, char separator) {
    if (at >= text.size() || text[at] != separator) return false;
    ++at;
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Writes value (0..9999) as `width` decimal digits at `at`; returns the end.
char* PutDigits(char* at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
    return at + width;
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

// Written digit by digit into one buffer: the codec formats the time stamp of
// every message it decodes, and a formatted print cost more than the rest of the
// decoding.
std::string FormatDateTime(const DateTime& when) {
    char text[19];  // "dd.mm.yyyy hh:mm:ss"
    char* end = PutDigits(text, when.day, 2);
    *end++ = '.';
    end = PutDigits(end, when.month, 2);
    *end++ = '.';
    end = PutDigits(end, when.year, 4);
    if (when.hour != 0 || when.minute != 0 || when.second != 0) {
        *end++ = ' ';
        end = PutDigits(end, when.hour, when.hour < 10 ? 1 : 2);
        *end++ = ':';
        end = PutDigits(end, when.minute, 2);
        *end++ = ':';
        end = PutDigits(end, when.second, 2);
    }
    return std::string(text, end);
}

std::string DateTimeKey(std::string_view datetime) {
    std::string day, month, year, time;
    std::size_t at = 0;
    const bool date_read = ReadNumber(datetime, at, 2, day) && Expect(datetime, at, '.') &&
                           ReadNumber(datetime, at, 2, month) && Expect(datetime, at, '.') &&
                           ReadNumber(datetime, at, 4, year);
    std::string key(1, date_read ? '1' : '0');
    if (!date_read) return key.append(datetime);
    if (Expect(datetime, at, ' ')) {
        const bool time_read = ReadNumber(datetime, at, 2, time) && Expect(datetime, at, ':') &&
                               ReadNumber(datetime, at, 2, time) && Expect(datetime, at, ':') &&
                               ReadNumber(datetime, at, 2, time);
        if (!time_read) time.clear();
    }
    time.resize(6, '0');
    return key.append(year).append(month).append(day).append(time);
}

}  // namespace velka
