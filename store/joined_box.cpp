#include "store/joined_box.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/fnv.h"

namespace velka::store {
namespace {

bool Plausible(const PartFacts& facts) {
    return facts.total >= 2 && facts.number >= 1 && facts.number <= facts.total;
}

// What makes parts one message (the sender, its reference and the number of
// parts), as a 64-bit FNV-1a hash that the joining index can keep; never 0, which
// marks a message on its own. Two messages whose keys collide would be joined:
// for the third of a million messages of a million-part box that is about one
// chance in 300 million.
std::uint64_t GroupKey(std::string_view number, const PartFacts& facts) {
    const char tail[] = {'\0', static_cast<char>(facts.reference & 0xFF),
                         static_cast<char>(facts.reference >> 8),
                         static_cast<char>(facts.reference_bits), static_cast<char>(facts.total)};
    const std::uint64_t key = Fnv1a(std::string_view(tail, sizeof tail), Fnv1a(number));
    return key == 0 ? 1 : key;
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

// The files the index of `box_path` speaks of, as they are now; nothing where the
// system gives no file identity, so that a rewrite could not be told.
std::optional<JoinSources> SourcesNow(const std::string& box_path, const BoxFile& box,
                                      std::size_t parts_entries) {
    JoinSources sources;
    sources.box_identity = files::StampOf(box_path).identity;
    sources.parts_identity = files::StampOf(PartsPathFor(box_path)).identity;
    sources.parts_entries = static_cast<std::uint32_t>(parts_entries);
    if (sources.box_identity == 0) return std::nullopt;
    if (!box.empty()) {
        sources.first_checksum = box.ChecksumAt(0);
        sources.last_checksum = box.ChecksumAt(box.size() - 1);
    }
    return sources;
}

// The index's joining where it speaks of the files as they are now, with only
// records appended since: the same store file and parts file (or none before),
// its first and last records still there with their checksums, and no entry
// written since for a record it covers. Else nothing: a fresh joining.
JoinState IndexedStart(const std::string& box_path, const BoxFile& box,
                       std::span<const PartEntry> parts, const JoinSources& now) {
    auto index = LoadJoinedIndex(JoinedIndexPathFor(box_path));
    if (!index) return {};
    const auto& [then, state] = *index;
    const bool same_files =
        then.box_identity == now.box_identity &&
        (then.parts_identity == now.parts_identity || then.parts_entries == 0) &&
        then.parts_entries <= parts.size() && state.records <= box.size();
    if (!same_files || state.records == 0) return {};
    if (box.ChecksumAt(0) != then.first_checksum ||
        box.ChecksumAt(state.records - 1) != then.last_checksum)
        return {};
    for (const PartEntry& entry : parts.subspan(then.parts_entries)) {
        if (entry.record < state.records) return {};
    }
    return std::move(index->second);
}

}  // namespace

std::string MissingPartMark(std::size_t number, std::size_t total) {
    return codepage::FromUtf8("[часть " + std::to_string(number) + " из " + std::to_string(total) +
                              " ещё не пришла]");
}

JoinedBox::JoinedBox(BoxFile box, JoinState state, ContentIndex contents)
    : box_(std::move(box)),
      rows_(std::move(state.rows)),
      slots_(std::move(state.places)),
      contents_(std::move(contents)) {
    if (!contents_.empty()) HideReplaced();
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
    // Read with the store file, so that a removal cannot renumber them in between.
    const auto sim_notes = LoadSimNotes(SimNotesPathFor(box_path));
    const std::optional<JoinSources> sources = SourcesNow(box_path, *box, parts->size());
    held.reset();

    JoinState state = sources ? IndexedStart(box_path, *box, *parts, *sources) : JoinState{};
    const std::size_t indexed = state.records;
    JoinFrom(*box, InRecordOrder(*parts), state);
    if (sources && box->size() - indexed >= kReindexAfter) {
        // Only speed hangs on it: the next opening joins more when this fails.
        IgnoreFailure(SaveJoinedIndex(JoinedIndexPathFor(box_path), *sources, state));
    }
    JoinedBox joined(std::move(*box), std::move(state), std::move(*contents));
    // Notes that cannot be read cost the SIM column alone.
    if (sim_notes) {
        joined.sims_ = RecordSims(joined.box_, sim_notes->entries);
    } else {
        joined.sims_error_ = sim_notes.error();
    }
    return joined;
}

JoinedBox JoinedBox::Join(BoxFile box, std::span<const PartEntry> parts, ContentIndex contents) {
    JoinState state;
    JoinFrom(box, InRecordOrder(parts), state);
    return JoinedBox(std::move(box), std::move(state), std::move(contents));
}

void JoinedBox::JoinFrom(const BoxFile& box, std::span<const PartEntry> parts, JoinState& state) {
    // Messages some of whose parts may still come, by their key: the latest row
    // with each key, as the joining of the records before left them.
    std::unordered_map<std::uint64_t, std::size_t> open;
    for (std::size_t row = 0; row < state.rows.size(); ++row) {
        if (state.keys[row] != 0) open[state.keys[row]] = row;
    }
    const std::size_t count = box.size();
    auto entry = std::lower_bound(
        parts.begin(), parts.end(), state.records,
        [](const PartEntry& part, std::size_t record) { return part.record < record; });
    const auto add_row = [&](std::uint64_t key, std::size_t slots) {
        state.rows.push_back(
            {static_cast<std::uint32_t>(state.places.size()), static_cast<std::uint16_t>(slots)});
        state.keys.push_back(key);
        state.places.resize(state.places.size() + slots, kMissingPart);
        return state.rows.size() - 1;
    };
    state.rows.reserve(state.rows.size() + count - state.records);
    for (std::size_t record = state.records; record < count; ++record) {
        while (entry != parts.end() && entry->record < record) ++entry;
        const auto add_single = [&] {
            state.places[state.rows[add_row(0, 1)].first_slot] = static_cast<std::uint32_t>(record);
        };
        if (entry == parts.end() || entry->record != record || !Plausible(entry->facts)) {
            add_single();
            continue;
        }
        const packet part = box.at(record);
        if (part.checksum != entry->checksum) {
            add_single();
            continue;
        }
        const PartFacts& facts = entry->facts;
        const std::uint64_t key = GroupKey(part.number_text(), facts);
        auto found = open.find(key);
        if (found != open.end()) {
            std::uint32_t& slot =
                state.places[state.rows[found->second].first_slot + facts.number - 1];
            if (slot == kMissingPart) {
                slot = static_cast<std::uint32_t>(record);
                continue;
            }
            if (box.at(slot).text_text() == part.text_text()) continue;  // stored twice
            // The reference came round: a new message begins.
        }
        const std::size_t row = add_row(key, facts.total);
        state.places[state.rows[row].first_slot + facts.number - 1] =
            static_cast<std::uint32_t>(record);
        open[key] = row;
    }
    state.records = static_cast<std::uint32_t>(count);
}

void JoinedBox::HideReplaced() {
    const std::unordered_set<std::uint32_t> replacing = contents_.ReplacingRecords();
    if (replacing.empty()) return;
    // The row that now stands for each sender and replacing identifier.
    std::unordered_map<std::string, std::size_t> latest;
    std::vector<bool> hidden(rows_.size(), false);
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const std::uint32_t first = slots_[rows_[row].first_slot];
        if (first == kMissingPart || !replacing.contains(first)) continue;
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

std::optional<std::uint32_t> JoinedBox::FirstRecordOf(std::size_t row) const {
    const JoinedRow& shape = rows_[row];
    for (std::size_t i = 0; i < shape.slot_count; ++i) {
        const std::uint32_t record = slots_[shape.first_slot + i];
        if (record != kMissingPart) return record;
    }
    return std::nullopt;
}

std::string_view JoinedBox::SimAt(std::size_t row) const {
    const auto first = FirstRecordOf(row);
    return first ? sims_.At(*first) : std::string_view();
}

JoinedMessage JoinedBox::at(std::size_t row) const {
    const JoinedRow& shape = rows_[row];
    JoinedMessage message;
    // Each part's whole text where its record lost characters, by slot; the others
    // are whole in the record.
    std::vector<const std::u16string*> whole_parts(shape.slot_count, nullptr);
    bool any_whole = false;
    for (std::size_t i = 0; i < shape.slot_count; ++i) {
        const std::uint32_t record = slots_[shape.first_slot + i];
        if (record == kMissingPart) {
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
            message.sim = sims_.At(record);
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
    const JoinedRow& shape = rows_[row];
    std::u16string whole;
    for (std::size_t i = 0; i < shape.slot_count; ++i) {
        const std::uint32_t record = slots_[shape.first_slot + i];
        if (whole_parts[i] != nullptr) {
            whole += *whole_parts[i];
        } else if (record == kMissingPart) {
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
