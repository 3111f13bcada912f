// messages/: the messages of a box as the views show and order them: long messages
// joined (store/joined_box.h), senders and recipients named from the contact book
// (contacts/number_names.h), rows sorted by any column. Standard C++ over store/
// and contacts/; the window's table model wires it. Pure; one thread at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "contacts/number_names.h"
#include "platform/result.h"
#include "store/joined_box.h"

namespace velka::messages {

enum class Column { Number, DateTime, State, Text, Sim };

// Rows 0 .. count-1, whose messages `message_at` gives, in the order of `column`:
// numbers by what the view shows (name and number, letter case ignored), dates in
// time order, texts and delivery states letter case ignored, SIMs by their keys; equal keys keep
// their order. Asks for
// every message once.
std::vector<std::size_t> SortedRows(
    std::size_t count, const std::function<store::JoinedMessage(std::size_t)>& message_at,
    const contacts::NumberNames& names, Column column, bool descending);

// Deletes a message the user picked from `box` (a picture of the store file at
// `box_path` taken earlier) under the box lock: its records are found again in
// the file as it is now, so that what another process appended meanwhile stays.
// Blocks on the disk and on another process's write. A message removed by
// someone else already is no error.
Status RemoveMessage(const std::string& box_path, const store::JoinedBox& box,
                     const store::JoinedMessage& message);

}  // namespace velka::messages
