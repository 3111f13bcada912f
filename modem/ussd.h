// The USSD dialogue behind Session::Ussd (modem/session.h): "AT+CUSD=1,<str>,15"
// and the network's "+CUSD:", which modems give before or after the command's
// "OK"; "AT+CUSD=2" to end a session. Threads: the thread that drives the session,
// on an open port (modem/dialogue.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "modem/dialogue.h"
#include "modem/ussd_coding.h"

namespace velka::modem {

// Sends `request` in `form`, else in the form a modem of `manufacturer` wants, and
// when the modem refuses that form, in the other; the form it took is kept in
// `form` for the next request. Waits up to `limit` for the network's answer; one
// that does not come has the session ended on the network ("AT+CUSD=2"). Blocks
// until the answer, the limit or the stop flag.
UssdAnswer AskUssd(TComPort& port, AnswerReader& reader, std::u16string_view request,
                   std::optional<UssdRequestForm>& form, std::string_view manufacturer,
                   Clock::duration limit);

// "AT+CUSD=2": true when the modem took it.
bool CancelUssd(TComPort& port, AnswerReader& reader);

// The answer a whole "+CUSD:" result gives; Unreadable for one that is not.
UssdAnswer AnswerOf(std::string_view result);

}  // namespace velka::modem
