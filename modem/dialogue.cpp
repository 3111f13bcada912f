#include "modem/dialogue.h"

#include <cctype>

#include "platform/codepage.h"
#include "platform/result.h"
#include "platform/text.h"
#include "platform/ticks.h"
#include "serial/ser_except.h"

namespace velka::modem {
namespace {

constexpr std::uint16_t kBufferFull = 3686;
constexpr std::uint16_t kBufferResume = 409;

// Opens a closed port. A port that cannot be opened is left closed.
[[nodiscard]] bool EnsureOpen(TComPort& port) {
    if (port.Open()) return true;
    try {
        port.SetOpen(true);
        return true;
    } catch (const ESerialException&) {
        return false;
    }
}

// Closes the port so that the next initialisation opens the device afresh: after a
// modem that stopped answering or a device that vanished, an old open is worthless.
void ClosePort(TComPort& port) {
    try {
        port.SetOpen(false);
    } catch (const ESerialException&) {
        // Closing a device that is already gone; nothing is left to release.
    }
}

[[nodiscard]] bool Command(TComPort& port, AnswerReader& reader, std::string_view command) {
    return WriteCommand(port, command) && reader.AwaitFinalResult(DeadlineIn(kCommandTicks));
}

// "AT" twice in a row, then one deadline for both answers: the first may be lost to
// a modem that was asleep or had half a command in its buffer. Esc goes first: a
// client that died between "AT+CMGS=" and Ctrl-Z leaves the modem taking every
// later byte as part of the message, answering nothing, until Esc abandons it; in
// command mode the modem passes over it.
[[nodiscard]] bool Attention(TComPort& port, AnswerReader& reader) {
    constexpr char kEscape = 0x1B;
    if (!WriteCommand(port, std::string(1, kEscape) + "AT") || !WriteCommand(port, "AT"))
        return false;
    const auto deadline = DeadlineIn(kCommandTicks);
    const bool first = reader.AwaitFinalResult(deadline);
    const bool second = reader.AwaitFinalResult(deadline);
    return first || second;
}

}  // namespace

void ConfigurePort(TComPort& port) {
    port.SetBaud(115200);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetHWFlowOptions(hwfUseDTR | hwfUseRTS);
    port.SetBufferFull(kBufferFull);
    port.SetBufferResume(kBufferResume);
}

Clock::time_point DeadlineIn(std::int32_t ticks) {
    return TimerDeadline(NewTimer(ticks));
}

LineKind ClassifyLine(std::string_view line) {
    const std::string_view text = TrimBlanks(line);
    if (codepage::EqualIgnoreCase(text, "OK")) return LineKind::Ok;
    if (codepage::EqualIgnoreCase(text, "ERROR") ||
        codepage::StartsWithIgnoreCase(text, "+CME ERROR") ||
        codepage::StartsWithIgnoreCase(text, "+CMS ERROR")) {
        return LineKind::Error;
    }
    return LineKind::Other;
}

std::optional<std::string> AnswerReader::NextLine(Clock::time_point deadline,
                                                  std::optional<Clock::duration> idle_limit) {
    try {
        for (;;) {
            while (port_.CharReady()) {
                const char c = port_.GetChar();
                if (idle_limit) deadline = Clock::now() + *idle_limit;
                if (c != '\r' && c != '\n') {
                    partial_ += c;
                } else if (!partial_.empty()) {
                    std::string line;
                    line.swap(partial_);
                    return line;
                }
            }
            if (stop_.load() || !port_.WaitCharReady(deadline)) return std::nullopt;
        }
    } catch (const ESerialException&) {
        return std::nullopt;
    }
}

bool AnswerReader::AwaitFinalResult(Clock::time_point deadline) {
    while (const auto line = NextLine(deadline)) {
        switch (ClassifyLine(*line)) {
            case LineKind::Ok:
                return true;
            case LineKind::Error:
                return false;
            case LineKind::Other:
                break;
        }
    }
    return false;
}

bool WriteCommand(TComPort& port, std::string_view command) {
    try {
        port.PutString(std::string(command) + '\r');
        return true;
    } catch (const ESerialException&) {
        return false;
    }
}

bool InitModem(TComPort& port, const std::atomic<bool>& stop) {
    if (port.ComNumber() == 0) return false;
    if (!EnsureOpen(port)) {
        ClosePort(port);
        return false;
    }
    AnswerReader reader(port, stop);
    try {
        // Answers that came after their wait gave up would otherwise be read as
        // the answers to these commands.
        port.FlushInBuffer();
    } catch (const ESerialException&) {
        ClosePort(port);
        return false;
    }
    if (!Attention(port, reader)) {
        ClosePort(port);
        return false;
    }
    // A modem that keeps its echo or refuses numeric error codes still serves: the
    // reader passes over echoed commands and knows word and numeric errors alike.
    IgnoreFailure(Command(port, reader, "ATE0"));
    IgnoreFailure(Command(port, reader, "AT+CMEE=1"));
    return Command(port, reader, "AT+CMGF=0");
}

}  // namespace velka::modem
