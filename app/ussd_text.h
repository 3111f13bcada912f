// What the front ends say of a USSD request's outcome: the sentence a person reads
// when the network's own words do not say it, and the word scripts read. Pure; any
// thread.
#pragma once

#include <string>
#include <string_view>

#include "modem/session.h"

namespace velka::app {

// Windows-1251: empty when the network answered with words of its own (Done,
// Question) and they say it all; otherwise why there is no answer, or what the
// network did ("Сеть не ответила за 30 с, сеанс USSD завершён.").
std::string UssdOutcomeText(const modem::UssdAnswer& answer);

// "done", "question", "ended", "other-client", "not-supported", "network-timeout",
// "no-answer", "refused", "unreadable", "bad-request", "no-modem", "stopped".
std::string_view UssdStatusWord(modem::UssdStatus status);

// Whether the network answered the request: Done, Question, or Ended with words.
bool UssdAnswered(const modem::UssdAnswer& answer);

}  // namespace velka::app
