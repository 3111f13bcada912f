#include "messages/message_list.h"

#include <algorithm>
#include <numeric>

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "store/box_lock.h"
#include "store/parts_file.h"

namespace velka::messages {
namespace {

std::string KeyOf(const store::JoinedMessage& message, const contacts::NumberNames& names,
                  Column column) {
    switch (column) {
        case Column::Number:
            return codepage::Upper(names.Shown(message.number));
        case Column::DateTime:
            return DateTimeKey(message.datetime);
        case Column::Text:
            return codepage::Upper(message.text);
        case Column::State:
            return codepage::Upper(message.state);
        case Column::Sim:
            return message.sim;
    }
    return {};
}

}  // namespace

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

Status RemoveMessage(const std::string& box_path, const store::JoinedBox& box,
                     const store::JoinedMessage& message) {
    std::vector<store::RecordToRemove> records;
    records.reserve(message.records.size());
    for (const std::size_t position : message.records)
        records.push_back({position, box.box().at(position)});
    const auto held = store::BoxLock::Take(box_path);
    if (!held) return held.error();
    return store::RemoveRecords(*held, box_path, records);
}

}  // namespace velka::messages
