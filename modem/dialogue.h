// modem/: the AT dialogue with a GSM modem through the serial port component:
// initialisation, sending one message record, the reception cycle. Uses serial/,
// sms/, store/ and platform/.
//
// This header: how a command is written and its answer read, and the initialisation.
// Every command ends in one carriage return. Each wait reads the answer of its own
// command up to its final result line ("OK", "ERROR", "+CME ERROR: n", "+CMS ERROR: n"),
// so an answer never lingers in the input to pass for the answer of a later command;
// unsolicited lines ("+CMTI: ...", "RING", "^RSSI: ...") and echoed commands are
// read past. Waits sleep on the port until data, their deadline or the stop flag.
//
// Threads: the worker's thread only, with the port already set to its number. The
// dialogue reports true or false and raises nothing: failures of the port component
// count as a modem that did not answer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/ser_port.h"

namespace velka::modem {

using Clock = std::chrono::steady_clock;

// Time-outs in ticks of 55 ms, the component's timer unit.
inline constexpr std::int32_t kCommandTicks = 100;  // 5.5 s for "OK"
inline constexpr std::int32_t kPromptTicks = 1000;  // 55 s for the ">" of "AT+CMGS="

// The settings of the port the dialogue talks through: 115200 baud, DTR/RTS
// handshake, flow thresholds 3686/409, opened only by the initialisation.
void ConfigurePort(TComPort& port);

// The deadline `ticks` ticks from now.
Clock::time_point DeadlineIn(std::int32_t ticks);

enum class LineKind { Ok, Error, Other };
// "OK" and the error results, ignoring letter case and blanks around the line.
LineKind ClassifyLine(std::string_view line);

// Reads the modem's output as lines through one port, for one dialogue operation.
class AnswerReader {
  public:
    AnswerReader(TComPort& port, const std::atomic<bool>& stop) : port_(port), stop_(stop) {}

    // The next non-empty line without its line end (CR, LF or both). Nothing when
    // the deadline passes, the stop flag is set or the port fails first. With
    // `idle_limit`, the deadline moves on with every character that arrives.
    std::optional<std::string> NextLine(Clock::time_point deadline,
                                        std::optional<Clock::duration> idle_limit = {});

    // Lines up to and including the final result line; true for "OK". False on an
    // error result, at the deadline, on the stop flag or a port failure.
    [[nodiscard]] bool AwaitFinalResult(Clock::time_point deadline);

    bool stopped() const { return stop_.load(); }

  private:
    TComPort& port_;
    const std::atomic<bool>& stop_;
    std::string partial_;  // characters of a line whose end has not come yet
};

// Writes the command and a carriage return. False when the port refuses.
[[nodiscard]] bool WriteCommand(TComPort& port, std::string_view command);

// The modem initialisation: opens the port when it is closed, then "AT" twice,
// "ATE0", "AT+CMEE=1" and "AT+CMGF=0", each answer awaited up to 100 ticks. True
// when one of the two "AT" and the "AT+CMGF=0" were answered "OK"; the answers to
// "ATE0" and "AT+CMEE=1" do not count. False at once for port number 0, without
// opening anything. A port that cannot be opened, or whose device has failed, is
// closed again so that the next initialisation opens it afresh.
[[nodiscard]] bool InitModem(TComPort& port, const std::atomic<bool>& stop);

}  // namespace velka::modem
