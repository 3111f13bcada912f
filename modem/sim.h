// The SIM's state and what the modem says it is, asked during the initialisation
// (modem/dialogue.h). Threads: the worker's thread, on an open port.
#pragma once

#include <chrono>
#include <optional>

#include "modem/dialogue.h"

namespace velka::modem {

// AT+CSQ is asked again, while the modem is idle, at most this often.
inline constexpr auto kSignalInterval = std::chrono::seconds(30);

// "AT+CPIN?", and when the SIM asks for its PIN and the context holds one, the
// PIN, once: a refused PIN leaves the context, so that it is never sent again by
// itself (three refusals block the SIM). A PIN the SIM accepted stays, for a
// modem that restarts. The tries left are asked where the SIM is locked.
ModemStatus CheckSim(TComPort& port, AnswerReader& reader, ModemContext& context);

// The SIM state an answer to "AT+CPIN?" gives. A modem that knows no "AT+CPIN?"
// (a plain "ERROR") counts as ready; a busy or missing answer as Unknown.
ModemStatus SimStatusOf(const Answer& answer);

// The PIN tries left, from the first of "AT+CPINR" (27.007) and the vendors'
// "AT^CPIN?", "AT+QPINC", "AT+SPIC" that the modem answers; nothing when none does.
std::optional<int> PinTriesLeft(TComPort& port, AnswerReader& reader);

// Manufacturer, model and operator into `info`; what the modem refuses is left empty.
void ReadIdentity(TComPort& port, AnswerReader& reader, ModemInfo& info);
// The signal of AT+CSQ (0..31, 99 unknown), -1 when refused.
int ReadSignal(TComPort& port, AnswerReader& reader);
// ReadSignal into context.info when kSignalInterval has passed since the last
// reading (context.signal_read); nothing is asked otherwise.
void ReadSignalWhenDue(TComPort& port, AnswerReader& reader, ModemContext& context);

}  // namespace velka::modem
