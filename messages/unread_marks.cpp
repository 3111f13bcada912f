#include "messages/unread_marks.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/fnv.h"
#include "sms/smsbase.h"
#include "store/box_lock.h"

namespace velka::messages {
namespace {

constexpr std::string_view kHeader = "VELKA-UNREAD 1";
constexpr std::size_t kKeyDigits = 16;
constexpr std::size_t kNoticeLength = 60;

std::optional<std::uint64_t> ParseKey(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() != kKeyDigits) return std::nullopt;
    std::uint64_t key = 0;
    for (const char c : line) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (digit < 0) return std::nullopt;
        key = (key << 4) | static_cast<std::uint64_t>(digit);
    }
    return key;
}

}  // namespace

std::uint64_t RecordKey(const packet& record) {
    const PacketBytes bytes = EncodePacket(record);
    return Fnv1a(std::string_view(bytes.data(), bytes.size()));
}

Result<std::set<std::uint64_t>> UnreadMarks::ReadKeys(const std::string& path) {
    std::set<std::uint64_t> keys;
    if (!files::Exists(path)) return keys;
    const auto contents = files::ReadAll(path);
    if (!contents) return contents.error();
    std::string_view rest = *contents;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        if (const auto key = ParseKey(rest.substr(0, end))) keys.insert(*key);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return keys;
}

Result<UnreadMarks> UnreadMarks::Load(const std::string& path) {
    UnreadMarks marks(path);
    auto keys = ReadKeys(path);
    if (!keys) return keys.error();
    marks.keys_ = std::move(*keys);
    return marks;
}

bool UnreadMarks::AddUnread(const std::vector<packet>& arrived) {
    bool changed = false;
    for (const packet& record : arrived) {
        const std::uint64_t key = RecordKey(record);
        read_.erase(key);
        added_.insert(key);
        changed |= keys_.insert(key).second;
    }
    return changed;
}

bool UnreadMarks::MarkRead(const store::JoinedBox& inbox, const store::JoinedMessage& message) {
    bool changed = false;
    for (const std::size_t record : message.records) {
        const std::uint64_t key = RecordKey(inbox.box().at(record));
        added_.erase(key);
        read_.insert(key);
        changed |= keys_.erase(key) > 0;
    }
    return changed;
}

std::size_t UnreadMarks::CountUnread(const store::JoinedBox& inbox) const {
    if (keys_.empty()) return 0;
    std::size_t count = 0;
    for (std::size_t row = 0; row < inbox.size(); ++row) {
        for (const std::size_t record : inbox.at(row).records) {
            if (keys_.contains(RecordKey(inbox.box().at(record)))) {
                ++count;
                break;
            }
        }
    }
    return count;
}

Status UnreadMarks::Save() {
    const auto held = store::BoxLock::Take(path_);
    if (!held) return held.error();
    auto keys = ReadKeys(path_);
    if (!keys) return keys.error();
    for (const std::uint64_t key : read_) keys->erase(key);
    keys->insert(added_.begin(), added_.end());
    std::string contents(kHeader);
    contents += '\n';
    for (const std::uint64_t key : *keys) {
        char digits[kKeyDigits + 1];
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(key));
        contents += digits;
        contents += '\n';
    }
    if (Status saved = files::SaveDurably(path_, contents); !saved) return saved;
    keys_ = std::move(*keys);
    added_.clear();
    read_.clear();
    return {};
}

namespace {

// What makes records one message: a record on its own is one, the parts of a long
// one share sender, reference and number of parts.
std::string MessageKey(const store::ReceivedRecord& arrived, std::size_t index) {
    std::string key(arrived.record.number_text());
    if (!arrived.part) return key + '#' + std::to_string(index);
    const store::PartFacts& part = *arrived.part;
    return key + '/' + std::to_string(part.reference) + '/' + std::to_string(part.reference_bits) +
           '/' + std::to_string(part.total);
}

template <typename Text>
Text FirstLineStart(const Text& text, std::size_t length) {
    using Char = typename Text::value_type;
    const Char line_breaks[] = {Char('\r'), Char('\n'), Char(0)};
    Text line = text.substr(0, text.find_first_of(line_breaks));
    if (line.size() <= length && line.size() == text.size()) return line;
    std::size_t cut = std::min(length, line.size());
    // A high surrogate whose low half would fall beyond the cut goes with it.
    if (cut > 0 && cut < line.size() && (line[cut - 1] & 0xFC00) == 0xD800) --cut;
    const Char dots[] = {Char('.'), Char('.'), Char('.'), Char(0)};
    return line.substr(0, cut) + dots;
}

}  // namespace

ArrivalNotice NoticeOf(const std::vector<store::ReceivedRecord>& arrived,
                       const contacts::NumberNames& names) {
    if (arrived.empty()) return {};
    const std::string first_number(arrived.front().record.number_text());
    const std::string first_key = MessageKey(arrived.front(), 0);
    std::set<std::string> messages;
    bool one_sender = true;
    // The first message's earliest part in the batch.
    const store::ReceivedRecord* shown = &arrived.front();
    for (std::size_t i = 0; i < arrived.size(); ++i) {
        const store::ReceivedRecord& record = arrived[i];
        one_sender &= record.record.number_text() == first_number;
        const std::string key = MessageKey(record, i);
        messages.insert(key);
        if (key == first_key && record.part && record.part->number < shown->part->number)
            shown = &record;
    }
    const std::string name(names.NameOf(first_number));
    ArrivalNotice notice;
    notice.title = !one_sender
                       ? codepage::FromUtf8("Новых сообщений: ") + std::to_string(messages.size())
                   : name.empty() ? first_number
                                  : name;
    std::u16string text =
        store::WholeTextOf(shown->record, shown->content ? &*shown->content : nullptr);
    if (shown->part && shown->part->number > 1) text.insert(0, u"...");
    notice.text = TextStart(text, kNoticeLength);
    return notice;
}

std::vector<FlashNotice> FlashNoticesOf(const std::vector<store::ReceivedRecord>& arrived,
                                        const contacts::NumberNames& names) {
    std::vector<FlashNotice> flashes;
    for (const store::ReceivedRecord& kept : arrived) {
        if (!kept.content || ReadDataCoding(kept.content->coding_scheme).message_class != 0)
            continue;
        const std::string number(kept.record.number_text());
        const std::string name(names.NameOf(number));
        flashes.push_back(
            {name.empty() ? number : name, store::WholeTextOf(kept.record, &*kept.content)});
    }
    return flashes;
}

std::string TextStart(const std::string& text, std::size_t length) {
    return FirstLineStart(text, length);
}

std::u16string TextStart(const std::u16string& text, std::size_t length) {
    return FirstLineStart(text, length);
}

}  // namespace velka::messages
