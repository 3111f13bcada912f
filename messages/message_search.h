// Searching the messages of both boxes: by number (as written, or its digits), by
// the contact's name, or by a piece of the text, letter case ignored for Latin and
// Cyrillic (Windows-1251 upper-casing, Ё included). The index is built once when
// the boxes are opened; each keystroke then scans it. Pure; one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/number_names.h"
#include "store/joined_box.h"

namespace velka::messages {

enum class Box { Inbox, Outbox };

// One message of one box: its row in that box's JoinedBox.
struct MessageRef {
    Box box = Box::Inbox;
    std::size_t row = 0;
    bool operator==(const MessageRef&) const = default;
};

class SearchIndex {
  public:
    // Reads every message of both boxes once. The boxes need not outlive the index.
    SearchIndex(const store::JoinedBox& inbox, const store::JoinedBox& outbox,
                const contacts::NumberNames& names);

    // The messages that hold `query` (Windows-1251) in their number, their digits,
    // the contact's name or their text, inbox first, each box in its order. An
    // empty query finds nothing. A query written as a Russian national number
    // ("8916...") also finds the international form. `whole_query`, when the query
    // has characters Windows-1251 lacks (`query` holds "?" for them), is the query
    // as typed: it is looked for in the whole texts of the messages that have one.
    std::vector<MessageRef> Find(std::string_view query,
                                 std::u16string_view whole_query = {}) const;

    std::size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        MessageRef ref;
        std::string haystack;  // upper-cased: number, digits, name, text, each on its own line
        std::u16string whole;  // upper-cased: the whole text, where Windows-1251 lost some of it
    };
    std::vector<Entry> entries_;
};

// The boxes messages are picked from: the inbox, then the outbox; a box that no
// message refers to may be missing (null).
using PickedBoxes = std::array<const store::JoinedBox*, 2>;

// The messages of `refs` that came to or went through the SIM of key `sim`, in
// their order; an empty `sim` keeps them all.
std::vector<MessageRef> OfSim(std::vector<MessageRef> refs, const PickedBoxes& boxes,
                              std::string_view sim);

// Every SIM the notes of the boxes given name, the inbox's first, each once.
std::vector<std::string> SimsOf(const PickedBoxes& boxes);

// Every message to or from `number` (digits matching as NumberKey has
// them) in both boxes, in time order; equal times keep inbox before outbox and box
// order.
std::vector<MessageRef> Conversation(const store::JoinedBox& inbox, const store::JoinedBox& outbox,
                                     std::string_view number);

}  // namespace velka::messages
