#include "messages/message_search.h"

#include <algorithm>

#include "messages/message_list.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/number_key.h"

namespace velka::messages {
namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Upper case as codepage::Upper has it for what Windows-1251 holds; other
// characters (other scripts, emoji) as they are.
std::u16string UpperWide(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& unit : upper) {
        const char byte = codepage::FromUnicode(unit);
        if (byte != '?')
            unit = codepage::ToUnicode(codepage::UpperByte(static_cast<unsigned char>(byte)));
    }
    return upper;
}

template <typename Visit>
void ForEachMessage(const store::JoinedBox& inbox, const store::JoinedBox& outbox, Visit visit) {
    for (std::size_t row = 0; row < inbox.size(); ++row)
        visit(MessageRef{Box::Inbox, row}, inbox.at(row));
    for (std::size_t row = 0; row < outbox.size(); ++row)
        visit(MessageRef{Box::Outbox, row}, outbox.at(row));
}

}  // namespace

SearchIndex::SearchIndex(const store::JoinedBox& inbox, const store::JoinedBox& outbox,
                         const contacts::NumberNames& names) {
    entries_.reserve(inbox.size() + outbox.size());
    ForEachMessage(inbox, outbox, [&](const MessageRef& ref, const store::JoinedMessage& message) {
        std::string haystack = message.number;
        haystack.append("\n").append(NumberKey(message.number));
        haystack.append("\n").append(names.NameOf(message.number));
        haystack.append("\n").append(message.text);
        entries_.push_back({ref, codepage::Upper(haystack),
                            message.whole.empty() ? std::u16string() : UpperWide(message.whole)});
    });
}

std::vector<MessageRef> SearchIndex::Find(std::string_view query,
                                          std::u16string_view whole_query) const {
    std::vector<MessageRef> found;
    if (query.empty()) return found;
    if (!whole_query.empty()) {
        const std::u16string needle = UpperWide(whole_query);
        for (const Entry& entry : entries_)
            if (entry.whole.find(needle) != std::u16string::npos) found.push_back(entry.ref);
        return found;
    }
    const std::string needle = codepage::Upper(query);
    // "8916..." as typed nationally: the digits of the stored "+7916..." begin "7916".
    const std::string international =
        AllDigits(needle) && needle.front() == '8' ? "\n7" + needle.substr(1) : std::string();
    for (const Entry& entry : entries_) {
        const bool hit =
            entry.haystack.find(needle) != std::string::npos ||
            (!international.empty() && entry.haystack.find(international) != std::string::npos);
        if (hit) found.push_back(entry.ref);
    }
    return found;
}

std::vector<MessageRef> Conversation(const store::JoinedBox& inbox, const store::JoinedBox& outbox,
                                     std::string_view number) {
    const std::string key = NumberKey(number);
    std::vector<std::pair<std::string, MessageRef>> dated;
    if (key.empty()) return {};
    ForEachMessage(inbox, outbox, [&](const MessageRef& ref, const store::JoinedMessage& message) {
        if (NumberKey(message.number) == key) {
            dated.emplace_back(DateTimeKey(message.datetime), ref);
        }
    });
    std::stable_sort(dated.begin(), dated.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<MessageRef> refs;
    refs.reserve(dated.size());
    for (const auto& [time, ref] : dated) refs.push_back(ref);
    return refs;
}

std::vector<MessageRef> OfSim(std::vector<MessageRef> refs, const PickedBoxes& boxes,
                              std::string_view sim) {
    if (sim.empty()) return refs;
    std::erase_if(refs, [&](const MessageRef& ref) {
        return boxes[ref.box == Box::Inbox ? 0 : 1]->SimAt(ref.row) != sim;
    });
    return refs;
}

std::vector<std::string> SimsOf(const PickedBoxes& boxes) {
    std::vector<std::string> sims;
    for (const store::JoinedBox* box : boxes) {
        if (box == nullptr) continue;
        for (const std::string& key : box->SimKeys()) {
            if (std::find(sims.begin(), sims.end(), key) == sims.end()) sims.push_back(key);
        }
    }
    return sims;
}

}  // namespace velka::messages
