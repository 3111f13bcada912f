// New-message announcements: the modem is asked with AT+CNMI (3GPP TS 27.005) to
// say "+CMTI: <mem>,<index>" when a message is stored and "+CDSI:" (or hand over
// "+CDS:") for a status report, so that reception need not poll. Threads: the
// worker's thread, on an open port (modem/dialogue.h); the parsing is pure.
#pragma once

#include <optional>
#include <string>

#include "modem/dialogue.h"

namespace velka::modem {

// The form the client wants: buffered indications (mode 2), "+CMTI:" for stored
// messages (mt 1), no cell broadcasts (bm 0), "+CDSI:" for status reports kept in
// a memory (ds 2), the buffer flushed to the client (bfr 0).
inline constexpr std::string_view kAnnouncementCommand = "AT+CNMI=2,1,0,2,0";

// The AT+CNMI set command closest to kAnnouncementCommand that the answer to
// "AT+CNMI=?" allows: mode 2, else 1, else 3; mt 1, required; bm and bfr 0, else the
// lowest offered; ds 2, else 1, else 0. Parameters the answer does not list are
// left out. Nothing when the answer is an error, cannot be read, or offers no
// mode that forwards indications or no mt 1: such a modem is polled.
std::optional<std::string> AnnouncementCommandFor(const Answer& test_answer);

// "AT+CNMI=?" and then the command AnnouncementCommandFor gives. True when the
// modem took it and will announce; false leaves reception polling.
[[nodiscard]] bool AskForAnnouncements(TComPort& port, AnswerReader& reader);

}  // namespace velka::modem
