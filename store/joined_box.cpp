#include "store/joined_box.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "platform/codepage.h"

namespace velka::store {
namespace {

// What makes parts one message.
struct GroupKey {
    std::string number;
    std::uint16_t reference;
    std::uint8_t reference_bits;
    std::uint8_t total;
    bool operator==(const GroupKey&) const = default;
};

struct GroupKeyHash {
    std::size_t operator()(const GroupKey& key) const {
        const std::size_t facts =
            std::size_t{key.reference} << 16 | std::size_t{key.reference_bits} << 8 | key.total;
        return std::hash<std::string>{}(key.number) ^ (facts * 0x9E3779B97F4A7C15ULL);
    }
};

bool Plausible(const PartFacts& facts) {
    return facts.total >= 2 && facts.number >= 1 && facts.number <= facts.total;
}

// The entries in record order; the writer appends them so, but a file put
// together from outside need not be.
std::vector<PartEntry> InRecordOrder(std::span<const PartEntry> parts) {
    std::vector<PartEntry> sorted(parts.begin(), parts.end());
    const auto by_record = [](const PartEntry& a, const PartEntry& b) {
        return a.record < b.record;
    };
    if (!std::is_sorted(sorted.begin(), sorted.end(), by_record)) {
        std::stable_sort(sorted.begin(), sorted.end(), by_record);
    }
    return sorted;
}

}  // namespace

std::string MissingPartMark(std::size_t number, std::size_t total) {
    return codepage::FromUtf8("[часть " + std::to_string(number) + " из " + std::to_string(total) +
                              " ещё не пришла]");
}

Result<JoinedBox> JoinedBox::Open(const std::string& box_path) {
    std::optional<BoxLock> held = TakeForReading(box_path);
    auto box = BoxFile::Open(box_path);
    if (!box) return box.error();
    auto parts = LoadParts(PartsPathFor(box_path));
    if (!parts) return parts.error();
    // A damaged stretch of the content file costs only what it held: those records
    // show as their bytes say.
    auto contents = LoadContentIndex(box_path);
    if (!contents) return contents.error();
    held.reset();
    return Join(std::move(*box), *parts, std::move(*contents));
}

void JoinedBox::AddSingle(std::size_t record) {
    rows_.push_back({static_cast<std::uint32_t>(slots_.size()), 1});
    slots_.push_back(static_cast<std::uint32_t>(record));
}

JoinedBox JoinedBox::Join(BoxFile box, std::span<const PartEntry> parts, ContentIndex contents) {
    JoinedBox joined(std::move(box));
    joined.contents_ = std::move(contents);
    const std::vector<PartEntry> entries = InRecordOrder(parts);
    // Messages some of whose parts may still come, by what makes parts one message.
    std::unordered_map<GroupKey, std::size_t, GroupKeyHash> open;
    auto entry = entries.begin();
    const std::size_t count = joined.box_.size();
    joined.rows_.reserve(count - std::min(count, entries.size()));
    for (std::size_t record = 0; record < count; ++record) {
        while (entry != entries.end() && entry->record < record) ++entry;
        if (entry == entries.end() || entry->record != record || !Plausible(entry->facts)) {
            joined.AddSingle(record);
            continue;
        }
        const packet part = joined.box_.at(record);
        if (part.checksum != entry->checksum) {
            joined.AddSingle(record);
            continue;
        }
        const PartFacts& facts = entry->facts;
        GroupKey key{std::string(part.number_text()), facts.reference, facts.reference_bits,
                     facts.total};
        auto found = open.find(key);
        if (found != open.end()) {
            std::uint32_t& slot =
                joined.slots_[joined.rows_[found->second].first_slot + facts.number - 1];
            if (slot == kMissing) {
                slot = static_cast<std::uint32_t>(record);
                continue;
            }
            if (joined.box_.at(slot).text_text() == part.text_text()) continue;  // stored twice
            open.erase(found);  // the reference came round: a new message begins
        }
        const std::size_t row = joined.rows_.size();
        joined.rows_.push_back({static_cast<std::uint32_t>(joined.slots_.size()), facts.total});
        joined.slots_.resize(joined.slots_.size() + facts.total, kMissing);
        joined.slots_[joined.rows_[row].first_slot + facts.number - 1] =
            static_cast<std::uint32_t>(record);
        open.emplace(std::move(key), row);
    }
    if (!joined.contents_.empty()) joined.HideReplaced();
    return joined;
}

void JoinedBox::HideReplaced() {
    // The row that now stands for each sender and replacing identifier.
    std::unordered_map<std::string, std::size_t> latest;
    std::vector<bool> hidden(rows_.size(), false);
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const std::uint32_t first = slots_[rows_[row].first_slot];
        if (first == kMissing) continue;
        const packet part = box_.at(first);
        const RecordContent* content = contents_.Find(first, part.checksum);
        if (content == nullptr || !ReplacesEarlier(content->protocol_id)) continue;
        std::string key(part.number_text());
        key += static_cast<char>(content->protocol_id);
        const auto [earlier, fresh] = latest.try_emplace(std::move(key), row);
        if (fresh) continue;
        hidden[earlier->second] = true;
        earlier->second = row;
    }
    std::size_t kept = 0;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (!hidden[row]) rows_[kept++] = rows_[row];
    }
    rows_.resize(kept);
}

void JoinedBox::SetStates(std::vector<std::string> by_record) {
    states_ = std::move(by_record);
}

JoinedMessage JoinedBox::at(std::size_t row) const {
    const Row& shape = rows_[row];
    JoinedMessage message;
    // Each part's whole text where its record lost characters, by slot; the others
    // are whole in the record.
    std::vector<const std::u16string*> whole_parts(shape.slot_count, nullptr);
    bool any_whole = false;
    for (std::size_t i = 0; i < shape.slot_count; ++i) {
        const std::uint32_t record = slots_[shape.first_slot + i];
        if (record == kMissing) {
            message.text += MissingPartMark(i + 1, shape.slot_count);
            ++message.missing;
            continue;
        }
        const packet part = box_.at(record);
        const RecordContent* content = contents_.Find(record, part.checksum);
        if (message.records.empty()) {
            message.number = part.number_text();
            message.datetime = part.datetime_text();
            if (record < states_.size()) message.state = states_[record];
            if (content != nullptr) message.content = *content;
        }
        if (content != nullptr && content->body == ContentBody::WholeText) {
            whole_parts[i] = &content->text;
            any_whole = true;
        }
        if (content != nullptr && content->body == ContentBody::Data) message.data += content->data;
        message.text += part.text_text();
        message.records.push_back(record);
    }
    if (any_whole) message.whole = JoinWhole(row, whole_parts);
    return message;
}

std::u16string JoinedBox::JoinWhole(std::size_t row,
                                    const std::vector<const std::u16string*>& whole_parts) const {
    const Row& shape = rows_[row];
    std::u16string whole;
    for (std::size_t i = 0; i < shape.slot_count; ++i) {
        const std::uint32_t record = slots_[shape.first_slot + i];
        if (whole_parts[i] != nullptr) {
            whole += *whole_parts[i];
        } else if (record == kMissing) {
            whole += codepage::ToUtf16(MissingPartMark(i + 1, shape.slot_count));
        } else {
            whole += codepage::ToUtf16(box_.at(record).text_text());
        }
    }
    return whole;
}

std::u16string JoinedMessage::WholeText() const {
    return whole.empty() ? codepage::ToUtf16(text) : whole;
}

}  // namespace velka::store
