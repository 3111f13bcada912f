// The messages of a box as a front end lists them line by line (velka-sms-cli's
// inbox, outbox and unsent): joined as the views join them, or one per record as
// the file holds them, each with its delivery state in words where asked and the
// SIM it came to or went through (store/sim_note_file.h). Blocks on
// the disk; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace velka::messages {

struct BoxRow {
    std::string number;
    std::string datetime;
    std::string text;
    std::string state;  // the delivery state of a sent message; empty when not known or not asked
    std::u16string whole;  // the text whole where `text` lost characters; else empty
    std::string data;      // a binary message's payload; empty for a text
    std::string sim;       // the key of the SIM it came to or went through; empty when not known
};

struct BoxRows {
    std::vector<BoxRow> rows;
    // The states could not be read: the rows come without them, and this says why.
    std::optional<Error> states_error;
    // The SIM notes could not be read: the rows come without their SIMs, and this says why.
    std::optional<Error> sims_error;
};

// The messages of the store file at `path`, long ones joined (store/joined_box.h);
// with `parts_apart`, one per record as the file holds them. With `states`, each
// with its delivery state (delivery_states.h). The box that cannot be read is the
// error; its states file costs the states alone.
Result<BoxRows> ReadBoxRows(const std::string& path, bool parts_apart, bool states);

}  // namespace velka::messages
