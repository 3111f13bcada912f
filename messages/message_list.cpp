#include "messages/message_list.h"

#include <algorithm>
#include <numeric>

#include "platform/codepage.h"

namespace velka::messages {
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

std::string KeyOf(const store::JoinedMessage& message, const contacts::NumberNames& names,
                  Column column) {
    switch (column) {
        case Column::Number:
            return codepage::Upper(names.Shown(message.number));
        case Column::DateTime:
            return DateTimeKey(message.datetime);
        case Column::Text:
            return codepage::Upper(message.text);
    }
    return {};
}

}  // namespace

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

std::vector<std::size_t> SortedRows(
    std::size_t count, const std::function<store::JoinedMessage(std::size_t)>& message_at,
    const contacts::NumberNames& names, Column column, bool descending) {
    std::vector<std::string> keys;
    keys.reserve(count);
    for (std::size_t row = 0; row < count; ++row)
        keys.push_back(KeyOf(message_at(row), names, column));
    std::vector<std::size_t> rows(count);
    std::iota(rows.begin(), rows.end(), std::size_t{0});
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
        return descending ? keys[b] < keys[a] : keys[a] < keys[b];
    });
    return rows;
}

}  // namespace velka::messages
