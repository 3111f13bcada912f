// The AT dialogue that reads the SIM's phone book (Session::ReadPhoneBook), the
// module's own. Threads: the one that drives the session, on an open port.
#pragma once

#include <vector>

#include "modem/dialogue.h"
#include "modem/phone_book.h"

namespace velka::modem {

// Entries asked for in one "AT+CPBR=first,last". Modems answer a range of any size
// in principle; a bounded one keeps each answer within the command's bound and
// within the buffers of modems that cut long answers short.
inline constexpr int kPhoneBookChunk = 20;

// "AT+CSCS?" and "AT+CPBS?" for what to choose again afterwards; the best
// character set of "AT+CSCS=?"; "AT+CPBS="SM"", its counts, "AT+CPBR=?" for the
// indexes, then the entries in chunks, each going on after the last entry the
// modem gave, so that a modem that answers fewer than asked loses none. A range
// answered "+CME ERROR: 22" (not found) or 21 (invalid index) is empty. Reading
// ends once the count "AT+CPBS?" gave is reached. The character set and the
// storage are chosen again as they were, unless the modem fell silent or the
// stop came. A SIM reads its records
// slowly, some modems all of a chunk before answering: a chunk's answer counts as
// lost only once the modem has been `quiet` that long.
Result<std::vector<PhoneBookEntry>, PhoneBookError> ReadSimPhoneBook(TComPort& port,
                                                                     AnswerReader& reader,
                                                                     Clock::duration quiet);

}  // namespace velka::modem
