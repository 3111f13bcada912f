// A box, or the messages a view shows of it, as a CSV file for other programs:
// UTF-8, a header line "number,name,date,text,state", one line per message (a long
// message joined, its text whole even where its records lost characters, its line
// breaks kept inside the quoted field). The state column
// holds a sent message's delivery state (JoinedMessage::state, set from
// messages/delivery_states.h), empty for a received one. Pure.
#pragma once

#include <string>
#include <vector>

#include "contacts/number_names.h"
#include "store/joined_box.h"

namespace velka::messages {

// One field as CSV writes it: quoted, inner quotes doubled, when it holds a comma,
// a quote, a CR or an LF.
std::string CsvField(std::string_view utf8);

// The CSV text (UTF-8, CR LF line ends) of `messages` (Windows-1251), in order.
std::string MessagesCsv(const std::vector<store::JoinedMessage>& messages,
                        const contacts::NumberNames& names);

}  // namespace velka::messages
