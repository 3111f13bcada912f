#include "modem/dialogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <span>
#include <utility>

#include "modem/device_identity.h"
#include "modem/indications.h"
#include "modem/sim.h"
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

// How long the PDU line of a "+CMT:" or "+CDS:" header may take to follow it.
constexpr auto kDeliveryLineLimit = std::chrono::seconds(5);

// A form of a line the modem writes: its start, or the whole of it.
struct LineForm {
    std::string_view prefix;  // upper case
    bool whole;               // the prefix is the whole line
};

bool Matches(std::span<const LineForm> forms, std::string_view line) {
    const std::string upper = codepage::Upper(TrimBlanks(line));
    return std::any_of(forms.begin(), forms.end(), [&](const LineForm& form) {
        return form.whole ? upper == form.prefix : upper.starts_with(form.prefix);
    });
}

// The busy answers, upper case, as the final line starts: 27.007 "+CME ERROR: 14"
// (SIM busy), 27.005 "+CMS ERROR: 314" (SIM busy), and the vendors' "+CME ERROR:
// 515" (please wait, init or command processing in progress), each in its numeric
// and its text form. A numeric code is followed by the line's end.
constexpr LineForm kBusyForms[] = {
    {"+CME ERROR: 14", true},        {"+CME ERROR: 515", true},
    {"+CMS ERROR: 314", true},       {"+CME ERROR: SIM BUSY", false},
    {"+CMS ERROR: SIM BUSY", false}, {"+CME ERROR: PLEASE WAIT", false},
};

// The final result codes that end an answer as a refusal, in verbose form (ATV1,
// every modem's default and what a restarted modem speaks):
//   ERROR                          ITU-T V.250, the plain refusal;
//   +CME ERROR: <err>              3GPP TS 27.007 (numeric or text, after AT+CMEE);
//   +CMS ERROR: <err>              3GPP TS 27.005, message commands;
//   NO CARRIER, NO DIALTONE,       ITU-T V.250's other final result codes, which a
//   BUSY, NO ANSWER                  modem's firmware may give instead of ERROR;
//   COMMAND NOT SUPPORT,           Huawei's firmware, for a command it does not know
//   TOO MANY PARAMETERS              and for one given more parameters than it takes;
//   ABORTED                        u-blox, for a command cut short.
// A line like these that came unasked would end one wait early; the command is
// then tried again by whoever needed it, which costs far less than waiting out the
// time-out on every refusal.
constexpr LineForm kRefusalForms[] = {
    {"ERROR", true},      {"+CME ERROR", false},         {"+CMS ERROR", false},
    {"NO CARRIER", true}, {"NO DIALTONE", true},         {"BUSY", true},
    {"NO ANSWER", true},  {"COMMAND NOT SUPPORT", true}, {"TOO MANY PARAMETERS", true},
    {"ABORTED", true},
};

// The texts modems send on their own when they start, whole lines unless a prefix
// is marked, from the vendors' AT manuals:
//   RDY, +CFUN: 1            Quectel and SIMCom modules, once the UART is ready;
//   SMS Ready, Call Ready,   SIMCom, when the SMS and call stacks are up;
//   PB DONE
//   +QIND: SMS DONE,         Quectel, the same;
//   +QIND: PB DONE
//   ^SYSSTART                Cinterion (Siemens, Gemalto, Thales) and Huawei;
//   ^SIMST: (prefix)         Huawei, the SIM's state changed (a SIM re-seated).
// Not here: periodic reports such as ^BOOT, ^RSSI, ^MODE, +CSQ, +CREG, which some
// modems print every few seconds, and "+CPIN: READY", which the same modules send at
// start-up but which is also the answer to AT+CPIN?; the texts above come with it.
constexpr LineForm kStartupForms[] = {
    {"RDY", true},      {"+CFUN: 1", true},        {"SMS READY", true},      {"CALL READY", true},
    {"PB DONE", true},  {"+QIND: SMS DONE", true}, {"+QIND: PB DONE", true}, {"^SYSSTART", true},
    {"^SIMST:", false},
};

bool IsAnnouncement(std::string_view line) {
    return codepage::StartsWithIgnoreCase(line, "+CMTI:") ||
           codepage::StartsWithIgnoreCase(line, "+CDSI:");
}

bool IsDeliveryHeader(std::string_view line) {
    return codepage::StartsWithIgnoreCase(line, "+CMT:") ||
           codepage::StartsWithIgnoreCase(line, "+CDS:");
}

Answer Command(TComPort& port, AnswerReader& reader, std::string_view command) {
    return RunCommand(port, reader, command);
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

void ClosePort(TComPort& port) {
    try {
        port.SetOpen(false);
    } catch (const ESerialException&) {
        // Closing a device that is already gone; nothing is left to release.
    }
}

std::optional<int> AnswerNumber(std::string_view text) {
    text = TrimBlanks(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool IsPduLine(std::string_view text) {
    return !text.empty() && text.size() % 2 == 0 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

bool IsBusyAnswer(std::string_view line) {
    return Matches(kBusyForms, line);
}

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
    return Matches(kRefusalForms, text) ? LineKind::Error : LineKind::Other;
}

std::optional<std::string> AnswerReader::NextLine(Clock::time_point deadline,
                                                  std::optional<Clock::duration> idle_limit) {
    for (;;) {
        auto line =
            pending_ ? std::exchange(pending_, std::nullopt) : RawLine(deadline, idle_limit);
        if (!line) return line;
        if (TakeAnnouncement(*line) || TakeStartupText(*line)) continue;
        if (!IsDeliveryHeader(TrimBlanks(*line))) return line;
        TakeDelivery(*line);
    }
}

bool IsStartupText(std::string_view line) {
    return Matches(kStartupForms, line);
}

bool Echoes(const Answer& answer, std::string_view command) {
    return std::any_of(answer.lines.begin(), answer.lines.end(), [&](const std::string& line) {
        return codepage::EqualIgnoreCase(TrimBlanks(line), command);
    });
}

bool AnswerReader::TakeStartupText(std::string_view line) {
    if (!IsStartupText(line)) return false;
    context_.restarted = true;
    return true;
}

void AnswerReader::NoteEcho(std::string_view command, const Answer& answer) {
    if (context_.echo_off && Echoes(answer, command)) context_.restarted = true;
}

bool AnswerReader::TakeAnnouncement(std::string_view line) {
    const std::string_view text = TrimBlanks(line);
    if (!IsAnnouncement(text)) return false;
    context_.announced = true;
    // "+CMTI: "SM",3": the memory is the first field, quoted.
    std::string memory;
    for (const char c : text.substr(text.find(':') + 1)) {
        if (c == ',') break;
        if (c != '"') memory += c;
    }
    memory = codepage::Upper(TrimBlanks(memory));
    auto& named = context_.announced_memories;
    if (!memory.empty() && std::find(named.begin(), named.end(), memory) == named.end())
        named.push_back(std::move(memory));
    return true;
}

void AnswerReader::ReadArrived(Clock::duration line_limit) {
    const auto deadline = Clock::now() + line_limit;
    try {
        for (;;) {
            while (port_.CharReady()) {
                const char c = port_.GetChar();
                if (c != '\r' && c != '\n') {
                    partial_ += c;
                } else if (!partial_.empty()) {
                    std::string line;
                    line.swap(partial_);
                    if (!TakeAnnouncement(line) && !TakeStartupText(line) &&
                        IsDeliveryHeader(TrimBlanks(line)))
                        TakeDelivery(line);
                }
            }
            // Only a line begun is waited for: the modem writes each one whole.
            if (partial_.empty() || stop_.load() || !port_.WaitCharReady(deadline)) return;
        }
    } catch (const ESerialException&) {
        // A failed device has nothing more to say; the next command finds it out.
    }
}

void AnswerReader::TakeDelivery(std::string_view header) {
    auto pdu = RawLine(Clock::now() + kDeliveryLineLimit, std::nullopt);
    if (!pdu) return;
    const std::string upper = codepage::Upper(TrimBlanks(*pdu));
    if (!IsPduLine(upper)) {
        pending_ = std::move(pdu);
        return;
    }
    context_.deliveries.push_back(
        {codepage::StartsWithIgnoreCase(TrimBlanks(header), "+CDS:"), upper});
}

std::optional<std::string> AnswerReader::RawLine(Clock::time_point deadline,
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

Answer AnswerReader::Await(Clock::time_point deadline, std::optional<Clock::duration> idle_limit) {
    Answer answer;
    while (auto line = NextLine(deadline, idle_limit)) {
        const LineKind kind = ClassifyLine(*line);
        if (kind == LineKind::Other) {
            answer.lines.push_back(std::move(*line));
            continue;
        }
        context_.answered = true;
        answer.outcome = kind == LineKind::Ok  ? Outcome::Ok
                         : IsBusyAnswer(*line) ? Outcome::Busy
                                               : Outcome::Error;
        answer.final_line = std::move(*line);
        return answer;
    }
    answer.outcome = stopped() ? Outcome::Stopped : Outcome::Silent;
    if (answer.outcome == Outcome::Silent) NoteSilence();
    return answer;
}

bool AnswerReader::AwaitFinalResult(Clock::time_point deadline) {
    return Await(deadline).outcome == Outcome::Ok;
}

Outcome AnswerReader::AwaitPrompt(Clock::time_point deadline) {
    try {
        for (;;) {
            while (port_.CharReady()) {
                const char c = port_.GetChar();
                if (c == '>' && TrimBlanks(partial_).empty()) {
                    partial_.clear();
                    context_.answered = true;
                    return Outcome::Ok;
                }
                if (c != '\r' && c != '\n') {
                    partial_ += c;
                    continue;
                }
                if (partial_.empty()) continue;
                std::string line;
                line.swap(partial_);
                if (const Outcome instead = LineInsteadOfPrompt(line); instead != Outcome::Silent) {
                    return instead;
                }
            }
            if (stop_.load()) return Outcome::Stopped;
            if (!port_.WaitCharReady(deadline)) break;
        }
    } catch (const ESerialException&) {
        // A failed device answers nothing more.
    }
    if (stop_.load()) return Outcome::Stopped;
    NoteSilence();
    return Outcome::Silent;
}

Outcome AnswerReader::LineInsteadOfPrompt(const std::string& line) {
    if (TakeAnnouncement(line)) return Outcome::Silent;
    if (IsDeliveryHeader(TrimBlanks(line))) {
        TakeDelivery(line);
        return Outcome::Silent;
    }
    if (ClassifyLine(line) != LineKind::Error) return Outcome::Silent;
    context_.answered = true;
    NoteRefusal(line);
    return IsBusyAnswer(line) ? Outcome::Busy : Outcome::Error;
}

bool AnswerReader::Idle(Clock::time_point until) {
    while (NextLine(until)) {
    }
    return !stopped();
}

void AnswerReader::NoteSilence() {
    context_.silent = true;
}

void AnswerReader::NoteRefusal(const std::string& line) {
    context_.refusal = TrimBlanks(line);
}

bool BusyRetry::Wait(AnswerReader& reader) {
    const auto now = Clock::now();
    if (now + next_ - start_ > kBusyBudget) return false;
    const bool heard = reader.Idle(now + next_);
    next_ = std::min<Clock::duration>(next_ * 2, kBusyPauseLongest);
    return heard;
}

Answer RunCommand(TComPort& port, AnswerReader& reader, std::string_view command,
                  std::int32_t ticks, std::optional<Clock::duration> idle_limit) {
    BusyRetry retry;
    for (;;) {
        if (!WriteCommand(port, command)) {
            reader.NoteSilence();
            return Answer{};
        }
        const auto deadline = idle_limit ? Clock::now() + *idle_limit : DeadlineIn(ticks);
        Answer answer = reader.Await(deadline, idle_limit);
        reader.NoteEcho(command, answer);
        if (answer.outcome != Outcome::Busy || !retry.Wait(reader)) return answer;
    }
}

bool WriteCommand(TComPort& port, std::string_view command) {
    try {
        port.PutString(std::string(command) + '\r');
        return true;
    } catch (const ESerialException&) {
        return false;
    }
}

namespace {

using ProbeQuestions = std::function<void(TComPort&, AnswerReader&, ModemContext&)>;

// Opens port `number` for a moment: when a modem answers "AT" within `bound`,
// turns its echo off and asks `questions`. False when nothing answered.
bool ProbeWith(std::uint16_t number, std::chrono::milliseconds bound, const StopSignal& stop,
               const ProbeQuestions& questions) {
    TComPort port;
    ConfigurePort(port);
    port.SetStopFlag(&stop);
    port.SetComNumber(number);
    if (!EnsureOpen(port)) return false;
    ModemContext context;
    AnswerReader reader(port, stop, context);
    const bool answered = WriteCommand(port, "AT") && reader.AwaitFinalResult(Clock::now() + bound);
    if (answered) {
        Command(port, reader, "ATE0");  // so that no echo passes for an answer
        questions(port, reader, context);
    }
    ClosePort(port);
    return answered;
}

}  // namespace

std::optional<ModemInfo> ProbePort(std::uint16_t number, std::chrono::milliseconds bound,
                                   const StopSignal& stop) {
    ModemInfo info;
    const bool answered = ProbeWith(number, bound, stop,
                                    [&info](TComPort& port, AnswerReader& reader, ModemContext&) {
                                        ReadIdentity(port, reader, info);
                                    });
    return answered ? std::optional<ModemInfo>(info) : std::nullopt;
}

std::optional<std::string> ProbeImei(std::uint16_t number, std::chrono::milliseconds bound,
                                     const StopSignal& stop) {
    std::string imei;
    const bool answered = ProbeWith(
        number, bound, stop, [&imei](TComPort& port, AnswerReader& reader, ModemContext& context) {
            ReadModemSerial(port, reader, context);
            imei = context.identity.imei;
        });
    return answered ? std::optional<std::string>(imei) : std::nullopt;
}

bool InitModem(TComPort& port, const std::atomic<bool>& stop, ModemContext& line) {
    if (port.ComNumber() == 0) return false;
    const bool was_open = port.Open();
    if (!EnsureOpen(port)) {
        ClosePort(port);
        line.status = {ModemState::PortMissing};
        return false;
    }
    if (!was_open) {
        line.opened = true;
        line.memories.reset();
        line.announcing.reset();
        line.announcements_due = false;
        line.echo_off = false;
        line.restarted = false;
        line.announced_memories.clear();
    }
    AnswerReader reader(port, stop, line);
    // Answers that came after their wait gave up would otherwise be read as the
    // answers to these commands; deliveries among them are kept.
    reader.Idle(Clock::now());
    if (!Attention(port, reader)) {
        if (!stop.load()) reader.NoteSilence();
        ClosePort(port);
        return false;
    }
    // A modem that keeps its echo or refuses numeric error codes still serves: the
    // reader passes over echoed commands and knows word and numeric errors alike.
    Command(port, reader, "ATE0");
    line.echo_off = !Echoes(Command(port, reader, "AT+CMEE=1"), "AT+CMEE=1");
    if (Command(port, reader, "AT+CMGF=0").outcome != Outcome::Ok) return false;
    line.status = CheckSim(port, reader, line);
    // Asked whatever the SIM says: a modem without a ready SIM still names itself.
    if (std::exchange(line.opened, false)) {
        ReadIdentity(port, reader, line.info);
        // Another modem may be on the port since the last opening: nothing of
        // the last one's identity may pass for this one's.
        line.identity = {};
        ReadModemSerial(port, reader, line);
        line.sim_identity_due = true;
    }
    const bool ready = line.status.state == ModemState::Ready;
    if (ready && std::exchange(line.sim_identity_due, false)) ReadSimIdentity(port, reader, line);
    ReadSignalWhenDue(port, reader, line);
    // After the design's five commands, so that their order stays as it was.
    if (ready && !line.announcing) line.announcing = AskForAnnouncements(port, reader);
    // A modem's start-up texts come in a burst that can outlast the "RDY" that had
    // the port opened afresh ("SMS Ready" follows seconds later): read while this
    // opening's commands were answered, they belong to the start it has just covered.
    // A modem that really restarted in the middle would have left a command
    // unanswered while it booted.
    if (!was_open) line.restarted = false;
    return ready;
}

void Listen(TComPort& port, const std::atomic<bool>& stop, const StopSignal& wake,
            Clock::time_point deadline, ModemContext& context) {
    // How long the rest of a line begun may take: the modem writes one whole.
    constexpr auto kRestOfLine = std::chrono::seconds(1);
    // One reader throughout, so that a line split across two waits stays whole.
    AnswerReader reader(port, stop, context);
    // Line ends left by the last answer, "RING" and the like end no listening.
    while (!context.announced && context.deliveries.empty() && !context.restarted) {
        bool heard = false;
        try {
            heard = port.WaitCharReady(deadline, &wake);
        } catch (const ESerialException&) {
            heard = false;
        }
        if (!heard) {
            // Woken early by nothing it waits for: the device failed or vanished.
            // As a silence, it has the port opened afresh.
            if (Clock::now() < deadline && !wake.IsSet() && !stop.load()) context.silent = true;
            return;
        }
        reader.ReadArrived(kRestOfLine);
    }
}

}  // namespace velka::modem
