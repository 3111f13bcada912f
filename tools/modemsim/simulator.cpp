#include "tools/modemsim/simulator.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <sstream>

namespace velka::modemsim {
namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The words from `first` on, joined by single blanks: the free text of a request.
std::string Rest(const std::vector<std::string>& words, std::size_t first) {
    std::string out;
    for (std::size_t i = first; i < words.size(); ++i) out += (i > first ? " " : "") + words[i];
    return out;
}

template <typename Number>
std::optional<Number> Parse(const std::string& text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<bool> Switch(const std::string& word) {
    if (word == "on") return true;
    if (word == "off") return false;
    return std::nullopt;
}

const char* StatusName(MessageStatus status) {
    switch (status) {
        case MessageStatus::ReceivedUnread:
            return "unread";
        case MessageStatus::ReceivedRead:
            return "read";
        case MessageStatus::StoredUnsent:
            return "unsent";
        case MessageStatus::StoredSent:
            return "sent";
    }
    return "?";
}

std::string Describe(const StoredMessage& message) {
    std::string line = (message.memory == "SM" ? "" : message.memory + " ") +
                       std::to_string(message.index) + " " + StatusName(message.status) + " " +
                       message.pdu;
    if (const auto deliver = ParseDeliver(message.pdu))
        line += "\n    from " + deliver->originator + ": " + UserDataText(deliver->data);
    return line + "\n";
}

// Names of the enumerated faults' values, in the enumerations' order.
constexpr const char* kSimNames[] = {"present", "missing", "failure", "ph-sim"};
constexpr const char* kDirectNames[] = {"off", "on", "ack"};
constexpr const char* kReportNames[] = {"off", "sm", "cdsi", "cds", "sr"};
constexpr const char* kPromptNames[] = {"crlf-blank", "crlf", "bare"};
constexpr const char* kIndicationNames[] = {"full", "narrow", "refuse"};
constexpr const char* kUssdCodingNames[] = {"plain", "language", "8bit"};
constexpr const char* kUssdFormNames[] = {"text", "packed", "unpacked", "ucs2"};
constexpr const char* kUssdOrderNames[] = {"after", "before"};
constexpr const char* kUssdRequestNames[] = {"text", "packed"};
constexpr const char* kMakerNames[] = {"velka", "huawei", "quectel", "simcom"};

template <typename Enum, std::size_t N>
bool SetChoice(Enum& field, const char* const (&names)[N], const std::vector<std::string>& value) {
    for (std::size_t i = 0; value.size() == 1 && i < N; ++i) {
        if (value[0] != names[i]) continue;
        field = static_cast<Enum>(i);
        return true;
    }
    return false;
}

template <typename Enum, std::size_t N>
const char* ChoiceName(Enum value, const char* const (&names)[N]) {
    return names[static_cast<std::size_t>(value)];
}

std::string DescribeFaults(const Faults& f) {
    std::ostringstream out;
    out << "silent " << (f.silent ? "on" : "off") << "\n"
        << "error " << (f.error_command.empty() ? "off" : f.error_command) << "\n"
        << "send-error " << f.send_error << "\n"
        << "delay " << f.answer_delay.count() << "\n"
        << "confirm-delay " << f.confirm_delay.count() << "\n"
        << "lower " << (f.lower_case ? "on" : "off") << "\n"
        << "echo-stuck " << (f.echo_stuck ? "on" : "off") << "\n"
        << "unsolicited-before "
        << (f.unsolicited_line.empty() ? "off" : f.unsolicited_command + " " + f.unsolicited_line)
        << "\n"
        << "random-unsolicited " << f.random_unsolicited << "\n"
        << "random-noise " << f.random_noise << "\n"
        << "seed " << f.seed << "\n"
        << "pin " << (f.pin.empty() ? "off" : f.pin) << "\n"
        << "sim " << ChoiceName(f.sim, kSimNames) << "\n"
        << "sim-busy " << f.sim_busy.count() << " " << f.busy_code << "\n"
        << "new-memory " << f.new_memory << "\n"
        << "direct " << ChoiceName(f.direct, kDirectNames) << "\n"
        << "reports " << ChoiceName(f.reports, kReportNames) << "\n"
        << "report-status " << static_cast<int>(f.report_status) << " " << f.report_status_count
        << "\n"
        << "hang " << (f.hang_command.empty() ? "off" : f.hang_command) << "\n"
        << "prompt " << ChoiceName(f.prompt, kPromptNames) << "\n"
        << "send-refusals " << f.send_refusals << " " << f.refusal_code << "\n"
        << "send-limit " << f.send_limit << " " << f.limit_code << "\n"
        << "maker " << ChoiceName(f.maker, kMakerNames) << "\n"
        << "cnmi " << ChoiceName(f.indications, kIndicationNames) << "\n"
        << "announce-inside " << (f.announce_inside ? "on" : "off") << "\n"
        << "refusal-text " << (f.refusal_text.empty() ? "off" : f.refusal_text) << "\n"
        << "mute " << (f.mute ? "on" : "off") << "\n"
        << "foreign " << f.foreign.count() << "\n"
        << "phone-book " << (f.no_phone_book ? "missing" : "present") << "\n"
        << "cpbr-limit " << f.phone_book_chunk << "\n"
        << "cpbr-empty " << (f.empty_range == 0 ? "ok" : std::to_string(f.empty_range)) << "\n"
        << "charsets " << Rest(f.charsets, 0) << "\n"
        << "ucs2-records " << (f.ucs2_records ? "on" : "off") << "\n"
        << "ussd-coding " << ChoiceName(f.ussd_coding, kUssdCodingNames) << "\n"
        << "ussd-form " << ChoiceName(f.ussd_form, kUssdFormNames) << "\n"
        << "ussd-order " << ChoiceName(f.ussd_order, kUssdOrderNames) << "\n"
        << "ussd-delay " << f.ussd_delay.count() << "\n"
        << "ussd-request " << ChoiceName(f.ussd_request, kUssdRequestNames) << "\n";
    return out.str();
}

std::string Refused(const std::string& why) {
    return "error: " + why + "\n";
}

bool SetSwitch(bool& field, const std::vector<std::string>& value) {
    const auto on = value.size() == 1 ? Switch(value[0]) : std::nullopt;
    if (on) field = *on;
    return on.has_value();
}

template <typename Number>
bool SetNumber(Number& field, const std::vector<std::string>& value) {
    const auto number = value.size() == 1 ? Parse<Number>(value[0]) : std::nullopt;
    if (number) field = *number;
    return number.has_value();
}

bool SetMilliseconds(std::chrono::milliseconds& field, const std::vector<std::string>& value) {
    std::uint32_t ms = 0;
    if (!SetNumber(ms, value)) return false;
    field = std::chrono::milliseconds(ms);
    return true;
}

bool SetChance(double& field, const std::vector<std::string>& value) {
    double chance = 0;
    if (!SetNumber(chance, value) || chance < 0 || chance > 1) return false;
    field = chance;
    return true;
}

// "off", or the start of the command lines it picks.
bool SetCommand(std::string& field, const std::vector<std::string>& value) {
    if (value.size() != 1) return false;
    field = value[0] == "off" ? "" : value[0];
    return true;
}

bool SetUnsolicitedBefore(Faults& f, const std::vector<std::string>& value) {
    if (value.size() == 1 && value[0] == "off") {
        f.unsolicited_command.clear();
        f.unsolicited_line.clear();
        return true;
    }
    if (value.size() < 2) return false;
    f.unsolicited_command = value[0];
    f.unsolicited_line = Rest(value, 1);
    return true;
}

bool SetBusyCode(int& field, const std::string& word) {
    const auto code = Parse<int>(word);
    if (!code || (*code != 14 && *code != 515 && *code != 314)) return false;
    field = *code;
    return true;
}

// "MS [CODE]": the SIM busy for MS after power-up, answering CODE.
bool SetSimBusy(Faults& f, const std::vector<std::string>& value) {
    if (value.empty() || value.size() > 2) return false;
    if (value.size() == 2 && !SetBusyCode(f.busy_code, value[1])) return false;
    return SetMilliseconds(f.sim_busy, {value[0]});
}

// "N [CODE]": the next N sends refused with +CMS ERROR: CODE.
bool SetSendRefusals(Faults& f, const std::vector<std::string>& value) {
    if (value.empty() || value.size() > 2) return false;
    if (value.size() == 2 && !SetNumber(f.refusal_code, {value[1]})) return false;
    return SetNumber(f.send_refusals, {value[0]});
}

// "N [CODE]": every send after the first N refused with +CMS ERROR: CODE; 0 ends it.
bool SetSendLimit(Faults& f, const std::vector<std::string>& value) {
    if (value.empty() || value.size() > 2) return false;
    if (value.size() == 2 && !SetNumber(f.limit_code, {value[1]})) return false;
    return SetNumber(f.send_limit, {value[0]}) && f.send_limit >= 0;
}

// "report-status N [COUNT]": without a count, every report carries N.
bool SetReportStatus(Faults& f, const std::vector<std::string>& value) {
    if (value.empty() || value.size() > 2) return false;
    int count = -1;
    if (value.size() == 2 && (!SetNumber(count, {value[1]}) || count < 0)) return false;
    if (!SetNumber(f.report_status, {value[0]})) return false;
    f.report_status_count = count;
    return true;
}

bool SetMemory(std::string& field, const std::vector<std::string>& value) {
    if (value.size() != 1 || (value[0] != "SM" && value[0] != "ME" && value[0] != "MT"))
        return false;
    field = value[0];
    return true;
}

bool SetPin(std::string& field, const std::vector<std::string>& value) {
    if (value.size() != 1) return false;
    if (value[0] == "off") {
        field.clear();
        return true;
    }
    if (value[0].size() < 4 || value[0].size() > 8 ||
        value[0].find_first_not_of("0123456789") != std::string::npos)
        return false;
    field = value[0];
    return true;
}

// "22", "21" or "ok": how a range of AT+CPBR without entries is answered.
bool SetEmptyRange(int& field, const std::vector<std::string>& value) {
    if (value.size() != 1 || (value[0] != "22" && value[0] != "21" && value[0] != "ok"))
        return false;
    field = value[0] == "ok" ? 0 : *Parse<int>(value[0]);
    return true;
}

// Some of "GSM", "IRA", "HEX" and "UCS2", each once.
bool SetCharsets(Faults& f, const std::vector<std::string>& value) {
    static const std::set<std::string> kKnown = {"GSM", "IRA", "HEX", "UCS2"};
    const std::set<std::string> named(value.begin(), value.end());
    if (value.empty() || named.size() != value.size() ||
        !std::includes(kKnown.begin(), kKnown.end(), named.begin(), named.end()))
        return false;
    f.charsets = value;
    return true;
}

bool SetPhoneBookPresence(bool& missing, const std::vector<std::string>& value) {
    if (value.size() != 1 || (value[0] != "present" && value[0] != "missing")) return false;
    missing = value[0] == "missing";
    return true;
}

// "INDEX NUMBER NAME...": an entry of the SIM's phone book.
std::optional<PhoneBookEntry> EntryOf(const std::vector<std::string>& words) {
    const auto index = words.size() >= 3 ? Parse<int>(words[0]) : std::nullopt;
    if (!index) return std::nullopt;
    return PhoneBookEntry{*index, words[1], Rest(words, 2)};
}

std::string DescribePhoneBook(const PhoneBook& book) {
    std::string out;
    for (const PhoneBookEntry& entry : book.entries())
        out += std::to_string(entry.index) + " " + entry.number + " " + entry.name + "\n";
    return out;
}

struct FaultSetter {
    const char* name;
    bool (*apply)(Faults&, const std::vector<std::string>& value);
};

using Values = std::vector<std::string>;
constexpr FaultSetter kFaultSetters[] = {
    {"clear",
     [](Faults& f, const Values& v) {
         if (!v.empty()) return false;
         f = Faults{};
         return true;
     }},
    {"silent", [](Faults& f, const Values& v) { return SetSwitch(f.silent, v); }},
    {"lower", [](Faults& f, const Values& v) { return SetSwitch(f.lower_case, v); }},
    {"echo-stuck", [](Faults& f, const Values& v) { return SetSwitch(f.echo_stuck, v); }},
    {"error", [](Faults& f, const Values& v) { return SetCommand(f.error_command, v); }},
    {"send-error",
     [](Faults& f, const Values& v) {
         std::uint16_t code = 0;
         if (!SetNumber(code, v)) return false;
         f.send_error = code;
         return true;
     }},
    {"delay", [](Faults& f, const Values& v) { return SetMilliseconds(f.answer_delay, v); }},
    {"confirm-delay",
     [](Faults& f, const Values& v) { return SetMilliseconds(f.confirm_delay, v); }},
    {"random-unsolicited",
     [](Faults& f, const Values& v) { return SetChance(f.random_unsolicited, v); }},
    {"random-noise", [](Faults& f, const Values& v) { return SetChance(f.random_noise, v); }},
    {"seed", [](Faults& f, const Values& v) { return SetNumber(f.seed, v); }},
    {"unsolicited-before", SetUnsolicitedBefore},
    {"pin", [](Faults& f, const Values& v) { return SetPin(f.pin, v); }},
    {"sim", [](Faults& f, const Values& v) { return SetChoice(f.sim, kSimNames, v); }},
    {"sim-busy", SetSimBusy},
    {"new-memory", [](Faults& f, const Values& v) { return SetMemory(f.new_memory, v); }},
    {"direct", [](Faults& f, const Values& v) { return SetChoice(f.direct, kDirectNames, v); }},
    {"reports", [](Faults& f, const Values& v) { return SetChoice(f.reports, kReportNames, v); }},
    {"report-status", SetReportStatus},
    {"hang", [](Faults& f, const Values& v) { return SetCommand(f.hang_command, v); }},
    {"prompt", [](Faults& f, const Values& v) { return SetChoice(f.prompt, kPromptNames, v); }},
    {"send-refusals", SetSendRefusals},
    {"send-limit", SetSendLimit},
    {"maker", [](Faults& f, const Values& v) { return SetChoice(f.maker, kMakerNames, v); }},
    {"cnmi",
     [](Faults& f, const Values& v) { return SetChoice(f.indications, kIndicationNames, v); }},
    {"announce-inside", [](Faults& f, const Values& v) { return SetSwitch(f.announce_inside, v); }},
    {"foreign", [](Faults& f, const Values& v) { return SetMilliseconds(f.foreign, v); }},
    {"mute", [](Faults& f, const Values& v) { return SetSwitch(f.mute, v); }},
    {"phone-book",
     [](Faults& f, const Values& v) { return SetPhoneBookPresence(f.no_phone_book, v); }},
    {"cpbr-limit",
     [](Faults& f, const Values& v) {
         return SetNumber(f.phone_book_chunk, v) && f.phone_book_chunk >= 0;
     }},
    {"cpbr-empty", [](Faults& f, const Values& v) { return SetEmptyRange(f.empty_range, v); }},
    {"charsets", SetCharsets},
    {"ucs2-records", [](Faults& f, const Values& v) { return SetSwitch(f.ucs2_records, v); }},
    {"ussd-coding",
     [](Faults& f, const Values& v) { return SetChoice(f.ussd_coding, kUssdCodingNames, v); }},
    {"ussd-form",
     [](Faults& f, const Values& v) { return SetChoice(f.ussd_form, kUssdFormNames, v); }},
    {"ussd-order",
     [](Faults& f, const Values& v) { return SetChoice(f.ussd_order, kUssdOrderNames, v); }},
    {"ussd-delay", [](Faults& f, const Values& v) { return SetMilliseconds(f.ussd_delay, v); }},
    {"ussd-request",
     [](Faults& f, const Values& v) { return SetChoice(f.ussd_request, kUssdRequestNames, v); }},
    {"refusal-text",
     [](Faults& f, const Values& v) {
         if (v.empty()) return false;
         f.refusal_text = v.size() == 1 && v[0] == "off" ? "" : Rest(v, 0);
         return true;
     }},
};

}  // namespace

std::vector<std::string> DefaultNumbers(std::size_t count) {
    std::vector<std::string> numbers;
    for (std::size_t i = 1; i <= count; ++i) {
        const std::string tail = std::to_string(i);
        numbers.push_back("+7999" + std::string(7 - std::min<std::size_t>(7, tail.size()), '0') +
                          tail);
    }
    return numbers;
}

Result<std::unique_ptr<Simulator>> Simulator::Start(const SimulatorOptions& options) {
    std::unique_ptr<Simulator> simulator(new Simulator());
    simulator->registry_ = options.registry;
    simulator->instance_prefix_ = options.instance_prefix;
    simulator->directory_ = options.directory;
    simulator->replugs_.assign(options.numbers.size(), 0);
    for (std::size_t i = 0; i < options.numbers.size(); ++i) {
        ModemConfig config;
        config.identity.number = options.numbers[i];
        config.identity.capacity = options.capacity;
        if (i < options.serials.size()) config.identity.serials = options.serials[i];
        const bool two = i < options.second_ports.size() && options.second_ports[i];
        const std::vector<std::string> paths = simulator->PathsOf(i, two ? 2 : 1, 0);
        config.device_path = paths.front();
        if (two) config.second_device_path = paths.back();
        // The line itself has changed either way; a map the registry will not
        // update only leaves port discovery a step behind, as a slow system would.
        config.on_line_change = [s = simulator.get(), i](bool up) {
            if (i >= s->registrations_.size()) return;
            for (const auto& registration : s->registrations_[i])
                IgnoreFailure(registration->SetPresent(up));
        };
        auto modem = Modem::Start(std::move(config), simulator->network_);
        if (!modem) return modem.error();
        if (i < options.faults.size()) (*modem)->SetFaults(options.faults[i]);
        simulator->modems_.push_back(std::move(*modem));
    }
    // Registered last: port discovery must never offer a port that does not answer.
    for (std::size_t i = 0; options.registry != nullptr && i < simulator->modems_.size(); ++i) {
        auto registrations = simulator->RegisterPorts(i, 0);
        if (!registrations) return registrations.error();
        simulator->registrations_.push_back(std::move(*registrations));
    }
    return simulator;
}

Simulator::~Simulator() {
    // Off the registry before the ports go, so that discovery never offers a dead one.
    registrations_.clear();
    modems_.clear();
}

std::string Simulator::com_name(std::size_t i, std::size_t port) const {
    const bool registered = i < registrations_.size() && port < registrations_[i].size();
    return registered ? registrations_[i][port]->com_name() : "";
}

namespace {

// "<n>", or "<n>-<replug>" once replugged: what the modem's paths and instances end in.
std::string ModemSuffix(std::size_t i, unsigned replug) {
    std::string suffix = std::to_string(i + 1);
    if (replug > 0) suffix.append("-").append(std::to_string(replug));
    return suffix;
}

}  // namespace

std::vector<std::string> Simulator::PathsOf(std::size_t i, std::size_t ports,
                                            unsigned replug) const {
    const std::string first = directory_ + "/modem" + ModemSuffix(i, replug);
    std::vector<std::string> paths{first};
    if (ports > 1) paths.push_back(first + ".2");
    return paths;
}

Result<std::vector<std::unique_ptr<PortRegistration>>> Simulator::RegisterPorts(std::size_t i,
                                                                                unsigned replug) {
    const Modem& modem = *modems_[i];
    std::vector<std::unique_ptr<PortRegistration>> registrations;
    for (std::size_t port = 0; port < modem.ports(); ++port) {
        std::string instance = instance_prefix_ + "-" + ModemSuffix(i, replug);
        if (modem.ports() > 1) instance.append("&MI_0").append(std::to_string(port));
        auto registration =
            PortRegistration::Register(*registry_, modem.device_path(port), instance);
        if (!registration) return registration.error();  // those made go with the vector
        registrations.push_back(std::move(*registration));
    }
    return registrations;
}

Result<std::size_t> Simulator::Find(const std::string& which) {
    if (const auto position = Parse<std::size_t>(which);
        position && *position >= 1 && *position <= modems_.size())
        return *position - 1;
    for (std::size_t i = 0; i < modems_.size(); ++i)
        if (SameNumber(modems_[i]->number(), which)) return i;
    return Error{"no modem " + which + " (give its position from 1 or its number)", 0};
}

std::string Simulator::Help() {
    return "list\n"
           "inject MODEM SENDER TEXT...     a received message from SENDER\n"
           "inject-pdu MODEM HEX            a received SMS-DELIVER, SMSC part included\n"
           "store MODEM                     the SIM store: index, status, PDU, text\n"
           "transcript MODEM                every byte each way, with times\n"
           "outside                         messages sent to numbers no modem owns\n"
           "unsolicited MODEM LINE...       send an unsolicited line now\n"
           "noise MODEM COUNT               send COUNT random bytes now\n"
           "drop MODEM | restore MODEM      unplug the modem | plug it back in\n"
           "replug MODEM                    unplug it and plug it back in under new device\n"
           "                                paths and new COM names (SIM and counts kept)\n"
           "identity MODEM [imei|iccid|imsi VALUE]  its serials, or one of them changed\n"
           "sends MODEM [reset]             sends counted against send-limit, or reset\n"
           "restart MODEM [quiet]           the modem restarts by itself, saying so or not\n"
           "phonebook MODEM                 the SIM's phone book: index, number, name\n"
           "phonebook-put MODEM INDEX NUMBER NAME...  an entry, replacing the one there\n"
           "phonebook-clear MODEM           empty the SIM's phone book\n"
           "faults MODEM                    show its faults\n"
           "fault MODEM NAME VALUE...       silent on|off, error CMD|off, send-error N,\n"
           "                                delay MS, confirm-delay MS, lower on|off,\n"
           "                                echo-stuck on|off, unsolicited-before CMD "
           "LINE...|off,\n"
           "                                random-unsolicited P, random-noise P, seed N,\n"
           "                                pin CODE|off, sim present|missing|failure|ph-sim,\n"
           "                                sim-busy MS [14|515|314], new-memory SM|ME|MT,\n"
           "                                direct off|on|ack, reports off|sm|cdsi|cds|sr,\n"
           "                                report-status N [COUNT] (TP-ST of reports),\n"
           "                                hang CMD|off, prompt crlf-blank|crlf|bare,\n"
           "                                send-refusals N [CODE], cnmi full|narrow|refuse,\n"
           "                                send-limit N [CODE] (after N accepted sends every\n"
           "                                send gets +CMS ERROR: CODE, 21 by default),\n"
           "                                maker velka|huawei|quectel|simcom (AT+CGMI and\n"
           "                                that maker's ICCID command),\n"
           "                                announce-inside on|off, refusal-text TEXT...|off,\n"
           "                                mute on|off (AT+CNMI taken, nothing announced),\n"
           "                                foreign MS (another program's traffic answers\n"
           "                                every command for MS from the next one),\n"
           "                                phone-book present|missing, cpbr-limit N\n"
           "                                (entries per AT+CPBR answer, 0 all),\n"
           "                                cpbr-empty 22|21|ok (an empty range's answer),\n"
           "                                charsets GSM|IRA|HEX|UCS2... (AT+CSCS offers),\n"
           "                                ucs2-records\n"
           "                                on|off (UCS2 names as the SIM's record),\n"
           "                                ussd-coding plain|language|8bit,\n"
           "                                ussd-form text|packed|unpacked|ucs2,\n"
           "                                ussd-order after|before (the +CUSD and OK),\n"
           "                                ussd-delay MS (the network's), ussd-request\n"
           "                                text|packed (the request form taken),\n"
           "                                clear\n"
           "MODEM is a position from 1 or a number.\n";
}

std::string Simulator::Control(const std::string& request) {
    std::lock_guard lock(mutex_);
    const std::vector<std::string> words = Words(request);
    if (words.empty() || words[0] == "help") return Help();
    const std::string& verb = words[0];
    if (verb == "list") {
        std::string out;
        for (std::size_t i = 0; i < modems_.size(); ++i) {
            out += std::to_string(i + 1) + " " + modems_[i]->device_path() + " " +
                   (registrations_.empty() ? "" : com_name(i) + " ") + modems_[i]->number() +
                   (modems_[i]->line_up() ? " up " : " down ") +
                   std::to_string(modems_[i]->Messages().size()) + " stored\n";
            if (modems_[i]->ports() == 1) continue;
            out.append("  second port ").append(modems_[i]->device_path(1));
            if (!registrations_.empty()) out.append(" ").append(com_name(i, 1));
            out.append("\n");
        }
        return out;
    }
    if (verb == "outside") {
        std::string out;
        for (const OutsideMessage& m : network_.Outside())
            out += m.sender + " -> " + m.destination + ": " + m.text + "\n";
        return out;
    }
    if (words.size() < 2) return Refused(verb + " needs a modem; try help");
    const auto found = Find(words[1]);
    if (!found) return Refused(found.error().message);
    Modem& modem = *modems_[*found];
    if (verb == "identity") return Identity(modem, words);
    if (verb == "sends") return Sends(modem, words);
    if (verb == "replug") return words.size() == 2 ? Replug(*found) : Refused("replug takes MODEM");
    if (verb == "store") {
        std::string out;
        for (const StoredMessage& m : modem.Messages()) out += Describe(m);
        return out;
    }
    if (verb == "transcript") return FormatTranscript(modem.Transcript());
    if (verb == "faults") return DescribeFaults(modem.faults());
    if (verb == "phonebook") return DescribePhoneBook(modem.phone_book());
    if (verb == "phonebook-clear") {
        PhoneBook book = modem.phone_book();
        book.Clear();
        modem.SetPhoneBook(std::move(book));
        return "ok\n";
    }
    if (verb == "phonebook-put") {
        PhoneBook book = modem.phone_book();
        const auto entry = EntryOf({words.begin() + 2, words.end()});
        if (!entry || !book.Put(*entry))
            return Refused("phonebook-put needs INDEX (1-250), NUMBER and a NAME the SIM can hold");
        modem.SetPhoneBook(std::move(book));
        return "ok\n";
    }
    if (verb == "drop" || verb == "restore") {
        const Status done = verb == "drop" ? modem.DropLine() : modem.RestoreLine();
        return done ? "ok\n" : Refused(done.error().message);
    }
    if (verb == "restart") {
        if (words.size() > 3 || (words.size() == 3 && words[2] != "quiet"))
            return Refused("restart takes MODEM and, for a silent one, quiet");
        modem.Restart(words.size() == 3);
        return "ok\n";
    }
    if (verb == "fault") return SetFault(modem, words);
    if (words.size() < 3) return Refused(verb + " needs more words; try help");
    if (verb == "inject") {
        if (words.size() < 4) return Refused("inject needs a sender and a text");
        for (const std::string& pdu :
             DeliversForText(Rest(words, 3), words[2], network_.service_centre(), NowLocal(),
                             ++next_reference_))
            modem.Receive(pdu);
        return "ok\n";
    }
    if (verb == "inject-pdu") {
        if (const auto deliver = ParseDeliver(words[2]); !deliver)
            return Refused(deliver.error().message);
        modem.Receive(words[2]);
        return "ok\n";
    }
    if (verb == "unsolicited") {
        modem.SendUnsolicited(Rest(words, 2));
        return "ok\n";
    }
    if (verb == "noise") {
        const auto count = Parse<std::size_t>(words[2]);
        if (!count) return Refused("noise needs a count of bytes");
        modem.SendNoise(*count);
        return "ok\n";
    }
    return Refused("unknown request " + verb + "; try help");
}

// "identity MODEM": its serials; "identity MODEM imei|iccid|imsi VALUE": one of
// them changed, as another SIM (or a modem with another IMEI) would answer.
std::string Simulator::Identity(Modem& modem, const std::vector<std::string>& words) {
    Serials serials = modem.serials();
    if (words.size() == 2)
        return "imei " + serials.imei + "\niccid " + serials.iccid + "\nimsi " + serials.imsi +
               "\n";
    std::string* field = words.size() != 4     ? nullptr
                         : words[2] == "imei"  ? &serials.imei
                         : words[2] == "iccid" ? &serials.iccid
                         : words[2] == "imsi"  ? &serials.imsi
                                               : nullptr;
    if (field == nullptr) return Refused("identity takes MODEM [imei|iccid|imsi VALUE]");
    *field = words[3];
    if (!ValidSerials(serials))
        return Refused(
            "identity needs an IMEI of 15 digits, an ICCID of 18 to 20 digits "
            "beginning 89, an IMSI of 6 to 15 digits");
    modem.SetSerials(serials);
    return "ok\n";
}

// "sends MODEM": the sends counted against send-limit; "sends MODEM reset": from 0 again.
std::string Simulator::Sends(Modem& modem, const std::vector<std::string>& words) {
    if (words.size() == 2) return std::to_string(modem.accepted_sends()) + "\n";
    if (words.size() != 3 || words[2] != "reset") return Refused("sends takes MODEM [reset]");
    modem.ResetSendCount();
    return "ok\n";
}

std::string Simulator::Replug(std::size_t i) {
    Modem& modem = *modems_[i];
    // Taken out first, so that the line changes below leave the old entries alone:
    // they go whole at the end, after the new ones took other COM names.
    std::vector<std::unique_ptr<PortRegistration>> old;
    if (i < registrations_.size()) old = std::move(registrations_[i]);
    for (const auto& registration : old) IgnoreFailure(registration->SetPresent(false));
    const unsigned replug = ++replugs_[i];
    Status done = modem.line_up() ? modem.DropLine() : Status{};
    if (done) done = modem.RestoreLine(PathsOf(i, modem.ports(), replug));
    if (done && !old.empty()) {
        auto registrations = RegisterPorts(i, replug);
        if (registrations) {
            registrations_[i] = std::move(*registrations);
            return "ok\n";
        }
        done = registrations.error();
    }
    if (old.empty()) return done ? "ok\n" : Refused(done.error().message);
    // The new names could not be had: the modem keeps its old ones.
    registrations_[i] = std::move(old);
    for (const auto& registration : registrations_[i])
        IgnoreFailure(registration->SetPresent(modem.line_up()));
    return Refused(done.error().message);
}

std::string Simulator::SetFault(Modem& modem, const std::vector<std::string>& words) {
    if (words.size() < 3) return Refused("fault needs a name; try help");
    const std::string& name = words[2];
    const std::vector<std::string> value_words(words.begin() + 3, words.end());
    Faults faults = modem.faults();
    for (const FaultSetter& setter : kFaultSetters) {
        if (name != setter.name) continue;
        if (!setter.apply(faults, value_words))
            return Refused("fault " + name + " cannot take \"" + Rest(words, 3) + "\"; try help");
        modem.SetFaults(faults);
        return "ok\n";
    }
    return Refused("unknown fault " + name + "; try help");
}

}  // namespace velka::modemsim
