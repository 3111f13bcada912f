// velka-sms-cli: sending and receiving without a window, over the same application
// core as the desktop client, with the program directory's Config.ini.
//
//   velka-sms-cli [--pin PIN] send NUMBER[,NUMBER...] TEXT [--timeout S] [--no-wait]
//                 [--via IMEI|PORT|SIM]
//   velka-sms-cli [--pin PIN] receive | watch | status [--json]
//   velka-sms-cli [--pin PIN] serve [--address A] [--port P]
//   velka-sms-cli inbox [--parts] [--json] | outbox [--parts] [--json] | ports
//   velka-sms-cli contacts import FILE [...] | contacts export FILE [--group G]
//   velka-sms-cli [--pin PIN] sim-contacts [--json]
//   velka-sms-cli [--pin PIN] ussd CODE [REPLY...] [--via IMEI|PORT|SIM] [--json]
//
// A SIM that asks for its PIN gets the one of --pin, or of VELKA_PIN, once.
//
// Texts on the command line and in the output are UTF-8. Exit status: 0 success,
// 1 when the work failed (not sent in time, no modem), 2 for a wrong command line.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_core.h"
#include "app/modem_manager_notice.h"
#include "app/port_offer.h"
#include "app/private_files.h"
#include "app/status_text.h"
#include "compose/compose.h"
#include "messages/box_rows.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/datetime.h"
#include "platform/program_dir.h"
#include "platform/registry.h"
#include "platform/stop_signal.h"
#include "tools/velka-sms-cli/console.h"
#include "tools/velka-sms-cli/contacts_command.h"
#include "tools/velka-sms-cli/exit_status.h"
#include "tools/velka-sms-cli/json.h"
#include "tools/velka-sms-cli/serve_command.h"
#include "tools/velka-sms-cli/sim_contacts_command.h"
#include "tools/velka-sms-cli/status_command.h"
#include "tools/velka-sms-cli/ussd_command.h"
#include "webhooks/event_keeping.h"

namespace {

using velka::app::AppCore;
using velka::app::SendOutcome;

using velka::cli::Fail;
using velka::cli::kBadInput;
using velka::cli::kFailed;
constexpr int kDefaultTimeoutSeconds = 120;

constexpr const char* kUsage =
    "usage: velka-sms-cli send NUMBER[,NUMBER...] TEXT [--timeout SECONDS] [--no-wait]\n"
    "                                 [--via IMEI|PORT|SIM]  through that modem alone\n"
    "                                 (its IMEI, its port COM5, its SIM's ICCID or name)\n"
    "       velka-sms-cli receive     one reception cycle into inbox.db\n"
    "       velka-sms-cli watch       receive until interrupted, printing each message\n"
    "                                 and each status report as it is kept\n"
    "       velka-sms-cli serve [--address A] [--port P]  the worker and the HTTP API\n"
    "                                 (docs/api.md) until interrupted; 127.0.0.1:8640\n"
    "                                 unless given\n"
    "       velka-sms-cli inbox [--parts] [--json]   list inbox.db, long messages joined\n"
    "                                 (--parts: one line per part, as stored)\n"
    "       velka-sms-cli outbox [--parts] [--json]  list outbox.db\n"
    "       velka-sms-cli ports       the serial ports present, with the modem on each\n"
    "       velka-sms-cli status [--json]  the modem: port, SIM state, maker, model,\n"
    "                                 operator, signal, announcements; the queue; IMEI,\n"
    "                                 ICCID, IMSI, the SIM's name and its counts\n"
    "                                 against its limits\n"
    "       velka-sms-cli contacts import FILE [--group G] [--update|--skip] [--json]\n"
    "                                 [--name-column N --number-column M]\n"
    "                                 a vCard (.vcf) or CSV file into the contact book;\n"
    "                                 G for contacts the file gives no group; numbers\n"
    "                                 stored under other names are skipped unless\n"
    "                                 --update; N and M (from 1) name the CSV columns\n"
    "                                 of the name and the number where the header is\n"
    "                                 not known, remembered for that header\n"
    "       velka-sms-cli contacts export FILE [--group G]  the book, or group G, to a\n"
    "                                 vCard or CSV file as FILE's extension says\n"
    "       velka-sms-cli sim-contacts [--json]  the SIM's phone book: index, number, name\n"
    "       velka-sms-cli ussd CODE [REPLY...] [--via IMEI|PORT|SIM] [--json]  a USSD\n"
    "                                 request (*100#) and the replies to the network's\n"
    "                                 questions, in order; --via: through that modem\n"
    "  --json prints one JSON value (UTF-8) for scripts.\n"
    "  --pin PIN before the command (or VELKA_PIN) unlocks a SIM that asks for its PIN.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return kBadInput;
}

// One record per line: number, date-time and text separated by tabs; in the text,
// a line break shows as \n, a tab as \t and a backslash as \\.
std::string Escaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\r' || c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

// One line: number, date and time, text (Windows-1251 fields, printed as UTF-8),
// and where given, after them, the key of the SIM (ASCII; empty when not known).
// `text` is UTF-8: a received text may hold characters Windows-1251 lacks.
void PrintMessage(std::string_view number, std::string_view datetime, std::string_view text,
                  const std::string* sim = nullptr) {
    using velka::codepage::ToUtf8;
    std::printf("%s\t%s\t%s", ToUtf8(number).c_str(), ToUtf8(datetime).c_str(),
                Escaped(text).c_str());
    if (sim != nullptr) std::printf("\t%s", sim->c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// Bytes as upper-case hexadecimal, two digits a byte.
std::string HexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (const char byte : bytes) {
        hex.push_back(kDigits[static_cast<unsigned char>(byte) >> 4]);
        hex.push_back(kDigits[static_cast<unsigned char>(byte) & 0xF]);
    }
    return hex;
}

// A message's text in UTF-8, whole: the Windows-1251 one, or where that lost
// characters, the whole one kept beside it.
std::string TextUtf8(std::string_view text, const std::u16string& whole) {
    return whole.empty() ? velka::codepage::ToUtf8(text) : velka::codepage::Utf16ToUtf8(whole);
}

void PrintRecord(const velka::store::ReceivedRecord& kept) {
    const velka::packet& record = kept.record;
    const velka::store::RecordContent* content = kept.content ? &*kept.content : nullptr;
    PrintMessage(record.number_text(), record.datetime_text(),
                 velka::codepage::Utf16ToUtf8(velka::store::WholeTextOf(record, content)));
}

// What TP-ST (3GPP TS 23.040 9.2.3.15) says of a sent message: completed (0x00 to
// 0x1F; 0 to 2 delivered), still being tried (0x20 to 0x3F) or given up.
std::string ReportState(int status) {
    if (status >= 0 && status <= 2) return "delivered";
    if (status >= 0x20 && status <= 0x3F)
        return "still trying (status " + std::to_string(status) + ")";
    return "not delivered (status " + std::to_string(status) + ")";
}

// A status report on one line: "report", the recipient, when the network says it
// was delivered (else when it was kept), what became of the message.
void PrintReport(const velka::store::StatusReport& report) {
    using velka::codepage::ToUtf8;
    const std::string& when = report.discharged.empty() ? report.received : report.discharged;
    std::printf("report\t%s\t%s\t%s\n", ToUtf8(report.recipient).c_str(), ToUtf8(when).c_str(),
                ReportState(report.status).c_str());
    std::fflush(stdout);
}

std::vector<std::string> SplitNumbers(std::string_view list) {
    std::vector<std::string> numbers;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string number(list.substr(start, comma - start));
        number.erase(0, number.find_first_not_of(' '));
        number.erase(number.find_last_not_of(' ') + 1);
        if (!number.empty()) numbers.push_back(number);
        start = comma + 1;
    }
    return numbers;
}

std::string NoPortMessage(const AppCore& core) {
    return "No serial port is set: put SerialPort=COM<number> in section [DEVICEMAP] of " +
           core.FilePath(velka::app::kConfigFile) + ".";
}

// ---- send ----

struct SendRequest {
    std::vector<std::string> numbers;  // Windows-1251
    std::string text;                  // Windows-1251
    std::u16string whole;              // the text whole where Windows-1251 lacks some of it
    int timeout_seconds = kDefaultTimeoutSeconds;
    bool wait = true;         // false: queue and return
    velka::app::Route route;  // --via: the modem the user named, Windows-1251
};

// The request, or a sentence saying what is wrong with the command line.
velka::Result<SendRequest> ParseSend(const std::vector<std::string_view>& args) {
    SendRequest request;
    std::vector<std::string_view> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--no-wait") {
            request.wait = false;
            continue;
        }
        if (args[i] == "--via") {
            if (++i == args.size()) return velka::Error{"--via needs a modem: IMEI, port or SIM."};
            const std::string via = velka::codepage::FromUtf8(args[i]);
            if (const std::string problem = velka::app::RouteProblem(via); !problem.empty())
                return velka::Error{"--via: " + problem + "."};
            request.route = {via, true};
            continue;
        }
        if (args[i] != "--timeout") {
            positional.push_back(args[i]);
            continue;
        }
        if (++i == args.size()) return velka::Error{"--timeout needs a number of seconds."};
        const std::string seconds(args[i]);
        if (seconds.empty() || seconds.size() > 6 ||
            seconds.find_first_not_of("0123456789") != std::string::npos) {
            return velka::Error{"--timeout takes whole seconds, not '" + seconds + "'."};
        }
        request.timeout_seconds = std::stoi(seconds);
    }
    if (positional.size() != 2) return velka::Error{"send needs NUMBER[,NUMBER...] and TEXT."};
    const auto check = velka::compose::CheckRecipients(SplitNumbers(positional[0]));
    for (const velka::compose::RejectedRecipient& rejected : check.rejected) {
        if (rejected.problem == velka::compose::RecipientProblem::TooLong) {
            return velka::Error{"'" + rejected.item + "' has more than " +
                                std::to_string(velka::compose::kMaxRecipientDigits) + " digits."};
        }
        return velka::Error{"'" + rejected.item +
                            "' is not a telephone number (digits, with an optional '+' first)."};
    }
    for (const std::string& number : check.sendable)
        request.numbers.push_back(velka::codepage::FromUtf8(number));
    if (request.numbers.empty()) return velka::Error{"send needs at least one number."};
    velka::compose::TypedText typed =
        velka::compose::KeptFormOf(velka::codepage::Utf8ToUtf16(positional[1]));
    request.text = std::move(typed.text);
    request.whole = std::move(typed.whole);
    if (request.text.size() > velka::kMaxTextLength) {
        return velka::Error{"The text has " + std::to_string(request.text.size()) +
                            " characters; a message holds at most 1024."};
    }
    return request;
}

const char* Describe(std::optional<SendOutcome> outcome) {
    if (!outcome) return "not sent yet (still queued)";
    switch (*outcome) {
        case SendOutcome::Sent:
            return "sent";
        case SendOutcome::Unsendable:
            return "cannot be sent (kept in unsent.db)";
        case SendOutcome::Failed:
            return "not sent yet (the modem refused it; still queued)";
    }
    return "not sent yet (still queued)";
}

// A store file that refuses writes is said on the error stream; the worker keeps
// what it could not write and tries again.
void SayStoreFailure(velka::app::StoreFile, const velka::Error& error) {
    std::fprintf(stderr, "velka-sms-cli: %s; will try again.\n", error.message.c_str());
}

// The PIN of --pin, else of VELKA_PIN; nothing when neither gives one.
std::optional<std::string> GivenPin(std::optional<std::string> from_arguments) {
    if (from_arguments) return from_arguments;
    const char* from_environment = std::getenv("VELKA_PIN");
    if (from_environment != nullptr && *from_environment != '\0')
        return std::string(from_environment);
    return std::nullopt;
}

std::optional<std::string> g_pin;  // main's thread: set once before any command runs

// A change of the modem's state is said on the error stream, in Russian as the
// window says it; the worker goes on trying.
void SayModemState(const velka::modem::ModemStatus& status) {
    const std::string text = velka::app::ModemStateText(status);
    if (text.empty()) {
        std::fprintf(stderr, "velka-sms-cli: the modem is ready.\n");
    } else {
        std::fprintf(stderr, "velka-sms-cli: %s\n", velka::codepage::ToUtf8(text).c_str());
    }
    if (status.denial) {
        std::fprintf(stderr, "velka-sms-cli: %s\n",
                     velka::app::PortDeniedEnglish(*status.denial).c_str());
    }
}

// How new messages reach the client, said as it changes: announced by the modem,
// or polled (a modem whose announcements went missing included).
void SayReception(velka::modem::Reception mode) {
    std::fprintf(stderr, "velka-sms-cli: %s\n",
                 velka::codepage::ToUtf8(velka::app::ReceptionText(mode)).c_str());
}

// Once a run, with the port known: ModemManager may be probing the modem.
void SayModemManagerNotice(const AppCore& core) {
    const std::string notice =
        velka::app::ModemManagerNotice(velka::Registry::Machine(), core.PortNumber());
    if (!notice.empty())
        std::fprintf(stderr, "velka-sms-cli: %s\n", velka::codepage::ToUtf8(notice).c_str());
}

void PrepareCore(AppCore& core, velka::app::WorkerEvents& events) {
    if (g_pin) core.SetPin(*g_pin);
    events.on_modem_state = SayModemState;
    events.on_reception = SayReception;
}

// Events kept for the webhooks: a journal that cannot be opened keeps what this
// run receives on the SIM (and what it sends queued), since their events could
// not be kept; unreadable bytes were kept aside.
void SayEventsOpening(const velka::webhooks::EventKeeping& keeping) {
    if (!keeping.begun()) return;
    const auto& opening = keeping.opening();
    if (!opening) {
        std::fprintf(stderr,
                     "velka-sms-cli: the webhooks' events cannot be kept (%s); received "
                     "messages stay on the modem and sent ones queued until they can.\n",
                     opening.error().message.c_str());
        return;
    }
    for (const velka::webhooks::JournalDamage& damage : *opening) {
        std::fprintf(stderr,
                     "velka-sms-cli: %llu unreadable byte(s) of events.db were kept aside in "
                     "%s.\n",
                     static_cast<unsigned long long>(damage.bytes), damage.kept_in.c_str());
    }
}

void SayQueueDamage(const velka::app::QueueDamage& damage) {
    std::fprintf(stderr,
                 "velka-sms-cli: %llu unreadable byte(s) of the queue file were kept aside in "
                 "%s; every readable record goes on.\n",
                 static_cast<unsigned long long>(damage.bytes), damage.kept_in.c_str());
}

std::vector<velka::packet> Records(const SendRequest& request) {
    const std::string now = velka::FormatDateTime(velka::NowLocal());
    std::vector<velka::packet> records;
    for (const std::string& number : request.numbers)
        records.push_back(velka::MakePacket(number, now, request.text));
    return records;
}

// Queued for whoever drives the modem, or for the next start: nothing to wait for.
int SayQueued(const SendRequest& request, const std::string& who_sends) {
    for (const std::string& number : request.numbers)
        std::printf("%s: queued\n", velka::codepage::ToUtf8(number).c_str());
    std::fprintf(stderr, "velka-sms-cli: %zu message(s) queued; %s.\n", request.numbers.size(),
                 who_sends.c_str());
    return 0;
}

int Send(const std::vector<std::string_view>& args) {
    const auto request = ParseSend(args);
    if (!request) return Fail(kBadInput, request.error().message);

    // Declared before the core, so that it outlives the worker that records through it.
    velka::webhooks::EventKeeping keeping(velka::ProgramDirectory());
    AppCore core(velka::ProgramDirectory());
    core.SetEventRecorder(keeping);
    if (!request->wait) {
        if (const auto queued = core.Enqueue(Records(*request), request->whole, request->route);
            !queued)
            return Fail(kFailed, queued.error().message);
        return SayQueued(*request, "the program that drives the modem sends them");
    }

    std::mutex lock;
    std::condition_variable changed;
    std::map<std::uint64_t, SendOutcome> outcomes;  // guarded by lock
    velka::app::WorkerEvents events;
    events.on_send = [&](std::uint64_t id, SendOutcome outcome) {
        std::lock_guard guard(lock);
        outcomes[id] = outcome;
        changed.notify_all();
    };
    events.on_store_failed = SayStoreFailure;
    events.on_queue_damaged = SayQueueDamage;
    PrepareCore(core, events);
    if (const auto started = core.Start(events); !started)
        return Fail(kFailed, started.error().message);
    if (core.WorkerRunning()) {
        SayModemManagerNotice(core);
        SayEventsOpening(keeping);
    }
    if (const auto& other = core.OtherWorker()) {
        std::fprintf(stderr, "velka-sms-cli: COM%u is driven by %s.\n", core.PortNumber(),
                     velka::Describe(*other).c_str());
        if (const auto queued = core.Enqueue(Records(*request), request->whole, request->route);
            !queued)
            return Fail(kFailed, queued.error().message);
        return SayQueued(*request, velka::Describe(*other) + " sends them");
    }
    if (!core.WorkerRunning()) return Fail(kFailed, NoPortMessage(core));

    const auto queued = core.Enqueue(Records(*request), request->whole, request->route);
    if (!queued) return Fail(kFailed, queued.error().message);
    const std::vector<std::uint64_t>& ids = *queued;
    const auto finished = [&] {
        return std::all_of(ids.begin(), ids.end(), [&](std::uint64_t id) {
            const auto found = outcomes.find(id);
            return found != outcomes.end() && found->second != SendOutcome::Failed;
        });
    };
    std::map<std::uint64_t, SendOutcome> final_outcomes;
    {
        std::unique_lock held(lock);
        changed.wait_for(held, std::chrono::seconds(request->timeout_seconds), finished);
        final_outcomes = outcomes;
    }
    core.Shutdown();

    bool all_sent = true;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto found = final_outcomes.find(ids[i]);
        const auto outcome = found == final_outcomes.end()
                                 ? std::nullopt
                                 : std::optional<SendOutcome>(found->second);
        all_sent = all_sent && outcome == SendOutcome::Sent;
        std::printf("%s: %s\n", velka::codepage::ToUtf8(request->numbers[i]).c_str(),
                    Describe(outcome));
    }
    if (!all_sent) {
        std::fprintf(stderr,
                     "velka-sms-cli: not every message was sent within %d s; the rest stay "
                     "queued and go out at the next start.\n",
                     request->timeout_seconds);
    }
    return all_sent ? 0 : kFailed;
}

// ---- receive, watch ----

// Prints what one modem's reception stored, or why it failed; adds to `stored`
// what it stored. Whether it received.
bool SayReception(const velka::Result<velka::modem::ReceptionReport>& report, std::size_t& stored) {
    if (!report) {
        std::fprintf(stderr, "velka-sms-cli: %s\n",
                     velka::codepage::ToUtf8(report.error().message).c_str());
        return false;
    }
    for (const velka::store::ReceivedRecord& record : report->stored) PrintRecord(record);
    stored += report->stored.size();
    return true;
}

// Every modem of the pool whose reception is on, the first whatever its switch;
// one that fails does not keep the others' messages on their SIMs.
int Receive() {
    velka::webhooks::EventKeeping keeping(velka::ProgramDirectory());
    AppCore core(velka::ProgramDirectory());
    core.SetEventRecorder(keeping);
    if (g_pin) core.SetPin(*g_pin);
    const auto first = core.ReceiveOnce();
    SayModemManagerNotice(core);
    SayEventsOpening(keeping);
    const std::vector<AppCore::PortReception> others = core.ReceiveOthers();
    if (!first && others.empty())
        return Fail(kFailed, velka::codepage::ToUtf8(first.error().message));
    std::size_t stored = 0;
    bool all_received = SayReception(first, stored);
    for (const AppCore::PortReception& other : others)
        all_received = SayReception(other.report, stored) && all_received;
    std::fprintf(stderr, "velka-sms-cli: %zu message(s) received.\n", stored);
    return all_received ? 0 : kFailed;
}

// Starts the worker of a command that runs until interrupted (watch, serve), with
// reception on: 0, or the exit status when it cannot run here. `observe` adds its
// own to the events last, so that what it adds is not replaced.
int StartWorker(AppCore& core, velka::app::WorkerEvents& events,
                const velka::cli::ObserveWorker& observe = {}) {
    events.on_store_failed = SayStoreFailure;
    events.on_queue_damaged = SayQueueDamage;
    PrepareCore(core, events);
    if (observe) observe(events);
    if (const auto started = core.Start(events); !started)
        return Fail(kFailed, started.error().message);
    if (core.WorkerRunning()) SayModemManagerNotice(core);
    if (const auto& other = core.OtherWorker()) {
        return Fail(kFailed, velka::ComName(core.PortNumber()) + " is driven by " +
                                 velka::Describe(*other) + ".");
    }
    if (!core.WorkerRunning()) return Fail(kFailed, NoPortMessage(core));
    core.SetReceptionEnabled(true);
    return 0;
}

int Watch() {
    velka::cli::CatchInterrupts();  // before any thread starts

    velka::app::WorkerEvents events;
    events.on_received = [](const std::vector<velka::store::ReceivedRecord>& stored) {
        for (const velka::store::ReceivedRecord& record : stored) PrintRecord(record);
    };
    events.on_reports = [](const std::vector<velka::store::StatusReport>& kept) {
        for (const velka::store::StatusReport& report : kept) PrintReport(report);
    };
    velka::webhooks::EventKeeping keeping(velka::ProgramDirectory());
    AppCore core(velka::ProgramDirectory());
    core.SetEventRecorder(keeping);
    if (const int status = StartWorker(core, events); status != 0) return status;
    SayEventsOpening(keeping);
    std::fprintf(stderr, "velka-sms-cli: watching COM%u; Ctrl-C ends.\n", core.PortNumber());
    velka::cli::WaitForInterrupt();
    core.RequestStop();
    core.Shutdown();
    return 0;
}

// ---- status ----

// The modem is opened here for the run (tools/velka-sms-cli/status_command.h).
int Status(bool json) {
    AppCore core(velka::ProgramDirectory());
    if (g_pin) core.SetPin(*g_pin);
    const auto probed = core.ProbeOnce();
    SayModemManagerNotice(core);
    if (!probed) return Fail(kFailed, velka::codepage::ToUtf8(probed.error().message));
    const auto queued = core.QueuedCount();
    if (!queued) return Fail(kFailed, queued.error().message);
    velka::cli::StatusFindings found{{core.PortNumber(), *probed, core.CurrentSim()}, *queued, {}};
    for (velka::app::AppCore::PortReport& other : core.ProbeOthers()) {
        auto sim = core.StandingOf(other.modem.identity);
        found.others.push_back({other.port, std::move(other.modem), std::move(sim)});
    }
    velka::cli::PrintStatus(found, json);
    return 0;
}

// ---- inbox, outbox, ports ----

// One message a line, its SIM's key last (after the columns scripts have read
// before, empty when not known), or with `json` one array of objects whose texts
// keep their line breaks, with "sim"; the sent messages' objects also carry their
// delivery state.
int List(const char* file, bool parts_apart, bool json) {
    const bool sent = std::string_view(file) == velka::app::kOutboxFile;
    const auto box =
        velka::messages::ReadBoxRows(velka::ProgramFile(file), parts_apart, sent && json);
    if (!box) return Fail(kFailed, box.error().message);
    for (const auto* error : {&box->states_error, &box->sims_error}) {
        if (*error) {
            std::fprintf(stderr, "velka-sms-cli: %s\n",
                         velka::codepage::ToUtf8((*error)->message).c_str());
        }
    }
    if (!json) {
        for (const velka::messages::BoxRow& row : box->rows)
            PrintMessage(row.number, row.datetime, TextUtf8(row.text, row.whole), &row.sim);
        return 0;
    }
    using velka::codepage::ToUtf8;
    velka::cli::Json messages = velka::cli::Json::array();
    for (const velka::messages::BoxRow& row : box->rows) {
        velka::cli::Json message = {{"number", ToUtf8(row.number)},
                                    {"datetime", ToUtf8(row.datetime)},
                                    {"text", TextUtf8(row.text, row.whole)}};
        if (sent) message["state"] = ToUtf8(row.state);
        if (!row.data.empty()) message["data"] = HexOf(row.data);
        message["sim"] = row.sim;
        messages.push_back(std::move(message));
    }
    // The printed text holds no zero byte (JsonText escapes it), so %s prints it whole.
    std::printf("%s\n", velka::cli::JsonText(messages).c_str());
    return 0;
}

// Every port of the serial device map with its device and what the modem on it
// says it is (empty when it does not answer "AT" within a second or so), by number.
// The ports are probed all at once, so silent ones cost one bound, not one each.
int Ports() {
    const std::string key = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    auto& registry = velka::Registry::Machine();
    const auto values = registry.Values(key);
    if (!values) {
        if (values.error().failure == velka::RegistryFailure::KeyNotFound) return 0;
        return Fail(kFailed, values.error().message);
    }
    std::vector<std::pair<std::string, std::string>> devices;  // COM name, device path
    std::vector<std::string> names;
    for (const auto& value : *values) {
        auto name = registry.ReadString(key, value.name);
        if (!name) continue;
        if (std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(*name);
        devices.emplace_back(std::move(*name), value.name);
    }
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return velka::app::PortBefore(a.first, b.first);
    });
    std::mutex lock;
    std::map<std::string, std::string> modem_names;
    velka::app::PortProbe probe(names, [&](const velka::app::AnsweringPort& answering) {
        const std::lock_guard guard(lock);
        // A port the user may not open names the group that may.
        modem_names[answering.port] = answering.denied_group.empty()
                                          ? answering.name
                                          : "no permission (group " + answering.denied_group + ")";
    });
    probe.Finish();
    for (const auto& [name, path] : devices) {
        std::printf("%s\t%s\t%s\n", velka::codepage::ToUtf8(name).c_str(),
                    velka::codepage::ToUtf8(path).c_str(),
                    velka::codepage::ToUtf8(modem_names[name]).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::vector<std::string> arguments = velka::cli::Utf8Arguments(argc, argv);
    std::optional<std::string> pin;
    if (arguments.size() >= 2 && arguments[0] == "--pin") {
        pin = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    g_pin = GivenPin(pin);
    if (arguments.empty()) return Usage();
    if (const std::string closed = velka::app::MakeClientFilesPrivate(velka::ProgramDirectory());
        !closed.empty())
        std::fprintf(stderr, "velka-sms-cli: %s\n", velka::codepage::ToUtf8(closed).c_str());
    const std::string_view command = arguments[0];
    const std::vector<std::string_view> args(arguments.begin() + 1, arguments.end());
    const bool bare = args.empty();
    if (command == "send") return Send(args);
    if (command == "contacts") return velka::cli::Contacts(args);
    if (command == "ussd") return velka::cli::Ussd(args, g_pin);
    if (command == "receive" && bare) return Receive();
    if (command == "watch" && bare) return Watch();
    if (command == "serve") {
        return velka::cli::Serve(args, [](AppCore& core, velka::app::WorkerEvents& events,
                                          const velka::cli::ObserveWorker& observe) {
            return StartWorker(core, events, observe);
        });
    }
    // The options of the listings, in any order, each at most once.
    const auto only = [&](std::initializer_list<std::string_view> allowed) {
        return std::all_of(args.begin(), args.end(),
                           [&](std::string_view arg) {
                               return std::find(allowed.begin(), allowed.end(), arg) !=
                                      allowed.end();
                           }) &&
               std::set<std::string_view>(args.begin(), args.end()).size() == args.size();
    };
    const auto given = [&](std::string_view option) {
        return std::find(args.begin(), args.end(), option) != args.end();
    };
    const bool json = given("--json");
    const bool parts = given("--parts");
    if (command == "inbox" && only({"--parts", "--json"}))
        return List(velka::app::kInboxFile, parts, json);
    if (command == "outbox" && only({"--parts", "--json"}))
        return List(velka::app::kOutboxFile, parts, json);
    if (command == "ports" && bare) return Ports();
    if (command == "status" && only({"--json"})) return Status(json);
    if (command == "sim-contacts" && only({"--json"})) return velka::cli::SimContacts(json, g_pin);
    return Usage();
}
