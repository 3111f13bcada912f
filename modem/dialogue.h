// The AT dialogue behind the session (modem/session.h), the module's own: how a
// command is written and its answer read, and the initialisation.
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
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "modem/session.h"
#include "platform/stop_signal.h"
#include "serial/ser_port.h"

namespace velka::modem {

// Time-outs in ticks of 55 ms, the component's timer unit.
inline constexpr std::int32_t kCommandTicks = 100;  // 5.5 s for "OK"
inline constexpr std::int32_t kPromptTicks = 1000;  // 55 s for the ">" of "AT+CMGS="

// The settings of the port the dialogue talks through: 115200 baud, DTR/RTS
// handshake, flow thresholds 3686/409, opened only by the initialisation.
void ConfigurePort(TComPort& port);

// The deadline `ticks` ticks from now.
Clock::time_point DeadlineIn(std::int32_t ticks);

enum class LineKind { Ok, Error, Other };
// "OK" and the final result codes that refuse ("ERROR", "+CME ERROR: n", "+CMS ERROR:
// n" and those vendors answer instead, listed in dialogue.cpp), ignoring letter case
// and blanks around the line.
LineKind ClassifyLine(std::string_view line);

// An error result that means "not now": the SIM is still busy or the modem is
// still starting, and the same command succeeds a moment later. The numeric and
// text forms of "+CME ERROR: 14" (SIM busy) and "+CMS ERROR: 314" (SIM busy) of
// 3GPP TS 27.007 and 27.005, and "+CME ERROR: 515", the vendors' "please wait,
// init or command processing in progress".
bool IsBusyAnswer(std::string_view line);

// A message the modem handed over directly ("+CMT:") or a status report it handed
// over ("+CDS:"): read from the line, not yet stored nor acknowledged.
struct Delivery {
    bool status_report = false;
    std::string pdu;  // upper-case hexadecimal, SMSC part included
};

// What the dialogue keeps about one modem between operations; owned by its
// Session and touched only on the thread that drives it.
struct ModemContext {
    std::vector<Delivery> deliveries;  // handed over, waiting to be stored
    bool silent = false;               // a command went unanswered within its bound
    bool answered = false;             // a command got its final result line
    bool opened = false;               // the initialisation opened the port afresh
    std::optional<std::string> pin;    // the user's PIN, sent once; cleared when refused
    ModemStatus status;                // the SIM's state at the last initialisation
    ModemInfo info;                    // read at each opening; the signal now and then
    DeviceIdentity identity;           // the IMEI read at each opening, the SIM's once it is ready
    bool sim_identity_due = false;     // the SIM's identity waits for a ready SIM at this opening
    // Identity commands this modem refused (modem/device_identity.h): never asked
    // again while the session stays bound to the port.
    std::set<std::string, std::less<>> refused_commands;
    // The modem's error answer to the last send that failed ("+CMS ERROR: 500"), as
    // it came; empty when that send failed for silence. Set by SendPdu.
    std::string refusal;
    Clock::time_point signal_read{};                   // when AT+CSQ was last asked
    std::optional<std::vector<std::string>> memories;  // AT+CPMS=? of this opening
    // Whether the modem took AT+CNMI at this opening and announces what arrives;
    // nothing until it was asked.
    std::optional<bool> announcing;
    // "+CMTI:" or "+CDSI:" came since the last reception cycle began: a message or
    // status report waits in a memory.
    bool announced = false;
    // The memories announcements named at this opening ("SR", where a modem keeps
    // status reports apart), upper case: the reception lists them too.
    std::vector<std::string> announced_memories;
    // A reception cycle ended with announcements on at this opening: from then on,
    // whatever arrives should have been announced.
    bool announcements_due = false;
    // Whether arrivals are announced as they should be on this port. A cycle that
    // was not announced and found new messages says they are not; an announcement
    // heard afterwards says they are again.
    bool announcements_trusted = true;
    // The echo went off at this opening's ATE0: a command echoed later means the
    // modem restarted and forgot it.
    bool echo_off = false;
    // The modem restarted by itself: it sent a start-up text, or its echo came back.
    // Everything it was told at the opening is lost; the session opens it afresh.
    bool restarted = false;
    Clock::duration listing_idle_limit = std::chrono::seconds(30);  // a listing this quiet is lost
};

// How a command's answer ended.
enum class Outcome { Ok, Error, Busy, Silent, Stopped };

struct Answer {
    Outcome outcome = Outcome::Silent;
    std::vector<std::string> lines;  // information lines before the final result
    std::string final_line;          // "OK", "+CME ERROR: 10", ...; empty when none came
};

// Reads the modem's output as lines through one port, for one dialogue operation.
// "+CMT:" and "+CDS:" and the PDU line after each are taken out of the answers
// into context.deliveries, and silence and answers are noted in the context.
class AnswerReader {
  public:
    AnswerReader(TComPort& port, const std::atomic<bool>& stop, ModemContext& context)
        : port_(port), stop_(stop), context_(context) {}

    // The next non-empty line without its line end (CR, LF or both), direct
    // deliveries and announcements ("+CMTI:", "+CDSI:", noted in the context) aside:
    // they come at any moment, even between the lines of another answer. Nothing when the deadline
    // passes, the stop flag is set or the port fails first. With `idle_limit`, the deadline moves
    // on with every character that arrives.
    std::optional<std::string> NextLine(Clock::time_point deadline,
                                        std::optional<Clock::duration> idle_limit = {});

    // Lines up to and including the final result line; `idle_limit` as for NextLine.
    Answer Await(Clock::time_point deadline, std::optional<Clock::duration> idle_limit = {});
    // True when Await ends in "OK".
    [[nodiscard]] bool AwaitFinalResult(Clock::time_point deadline);

    // Reads and drops whatever lines come until `until` (deliveries are kept): a
    // pause that still hears the modem, and, with `until` now, what a flush was
    // for, without losing a delivery. False when the stop flag ended it.
    bool Idle(Clock::time_point until);

    // The send prompt: a ">" with nothing before it on its line (">", "\r\n>" and
    // "\r\n> " alike). Ok when it came; Error or Busy for an error result line
    // instead; Silent at the deadline; Stopped on the stop flag.
    Outcome AwaitPrompt(Clock::time_point deadline);

    // Notes that the modem went silent, for a wait the caller bounds itself.
    void NoteSilence();
    // Notes a restart when `answer` echoes `command` though the echo went off.
    void NoteEcho(std::string_view command, const Answer& answer);
    // Keeps the modem's error answer in the context, for the user to read.
    void NoteRefusal(const std::string& line);

    // Reads the lines that have come, and the rest of one begun (at most
    // `line_limit` for it), noting announcements and keeping deliveries; other
    // unsolicited lines are dropped. Never waits for a line that has not begun, so
    // an announcement costs no wait after it.
    void ReadArrived(Clock::duration line_limit);

    bool stopped() const { return stop_.load(); }

  private:
    std::optional<std::string> RawLine(Clock::time_point deadline,
                                       std::optional<Clock::duration> idle_limit);
    // An announcement is noted in the context and taken out of the answer.
    bool TakeAnnouncement(std::string_view line);
    // A modem's start-up text (IsStartupText) is noted as a restart and taken out.
    bool TakeStartupText(std::string_view line);
    // What a whole line read while a prompt is awaited means: nothing yet (Silent),
    // or the error that came instead.
    Outcome LineInsteadOfPrompt(const std::string& line);
    // After a "+CMT:" or "+CDS:" header: its PDU line into the context. A line that
    // is no PDU drops the header and comes back as the next line.
    void TakeDelivery(std::string_view header);

    TComPort& port_;
    const std::atomic<bool>& stop_;
    ModemContext& context_;
    std::string partial_;                 // characters of a line whose end has not come yet
    std::optional<std::string> pending_;  // a line read after a header, to give next
};

// Writes the command and awaits its answer, `ticks` at most (with `idle_limit`:
// until the modem has been quiet that long); a busy answer
// (IsBusyAnswer) is met by sending the command again after a pause that grows from
// 0.5 s to 8 s, up to about a minute in all, then it counts as an error. The stop
// flag ends the pauses at once.
Answer RunCommand(TComPort& port, AnswerReader& reader, std::string_view command,
                  std::int32_t ticks = kCommandTicks,
                  std::optional<Clock::duration> idle_limit = {});

// The pauses between tries of a command the modem answered busy.
class BusyRetry {
  public:
    // Waits the next pause, hearing the modem through `reader`. False when the
    // budget is spent or the stop flag is set: give up.
    bool Wait(AnswerReader& reader);

  private:
    const Clock::time_point start_ = Clock::now();
    Clock::duration next_ = std::chrono::milliseconds(500);
};

inline constexpr auto kBusyPauseLongest = std::chrono::seconds(8);
inline constexpr auto kBusyBudget = std::chrono::seconds(60);

// Whether `line` is one of the unsolicited texts modems send when they start (the
// table in dialogue.cpp, from the vendors' manuals). Periodic reports (signal,
// network mode, registration, boot counters) are not.
bool IsStartupText(std::string_view line);

// Whether the answer holds the command echoed.
bool Echoes(const Answer& answer, std::string_view command);

// A decimal number between blanks, as the modem writes the fields of its answers;
// nothing for anything else.
std::optional<int> AnswerNumber(std::string_view text);

// A line made only of hexadecimal digit pairs: a PDU.
bool IsPduLine(std::string_view text);

// Writes the command and a carriage return. False when the port refuses.
[[nodiscard]] bool WriteCommand(TComPort& port, std::string_view command);

// The modem initialisation: opens the port when it is closed, then "AT" twice,
// "ATE0", "AT+CMEE=1" and "AT+CMGF=0", each answer awaited up to 100 ticks, then
// "AT+CPIN?" for the SIM's state. True when one of the two "AT" and the
// "AT+CMGF=0" were answered "OK" and the SIM is ready; the answers to "ATE0" and
// "AT+CMEE=1" do not count. A SIM that asks for its PIN gets context.pin once;
// a refused PIN is dropped. At each opening the modem's identity and operator are
// read into context.info and its IMEI into context.identity (the SIM's ICCID and
// IMSI at the first initialisation of the opening that finds the SIM ready), and
// the signal at most every 30 s. Once the SIM is
// ready, the modem is asked once per opening to announce new messages
// (AskForAnnouncements, context.announcing). False at once for
// port number 0, without opening anything. A port that cannot be opened, or whose
// device has failed or gone silent, is closed again so that the next
// initialisation opens it afresh.
[[nodiscard]] bool InitModem(TComPort& port, const std::atomic<bool>& stop, ModemContext& context);

// While the modem announces (context.announcing): sleeps on the port until it
// announces something or hands a delivery over (noted in the context), `wake` or
// the stop flag is set, or `deadline` passes; other unsolicited lines are read
// and dropped. A port that fails meanwhile counts as a silence (context.silent).
// Costs nothing while it sleeps. Blocks; the worker's thread.
void Listen(TComPort& port, const std::atomic<bool>& stop, const StopSignal& wake,
            Clock::time_point deadline, ModemContext& context);

// Session::Probe. Blocks up to `bound` and three command bounds; any thread.
std::optional<ModemInfo> ProbePort(std::uint16_t number, std::chrono::milliseconds bound,
                                   const StopSignal& stop);
// Session::ProbeImei. Blocks up to `bound` and three command bounds; any thread.
std::optional<std::string> ProbeImei(std::uint16_t number, std::chrono::milliseconds bound,
                                     const StopSignal& stop);

// Closes the port; the next initialisation opens it afresh. Never throws.
void ClosePort(TComPort& port);

}  // namespace velka::modem
