#include "tools/modemsim/session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "platform/text.h"

namespace velka::modemsim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;
constexpr std::size_t kLongestLine = 560;  // a full 176-octet PDU and its command fit

// 27.005 message service failure codes.
constexpr int kCmsOperationNotAllowed = 302;
constexpr int kCmsOperationNotSupported = 303;
constexpr int kCmsInvalidPduParameter = 304;
constexpr int kCmsInvalidMemoryIndex = 321;
constexpr int kCmsSimBusy = 314;
constexpr int kCmsNoAcknowledgementExpected = 340;
// 27.007 equipment failure codes; 515 is the vendors' "please wait".
constexpr int kCmeOperationNotAllowed = 3;
constexpr int kCmeOperationNotSupported = 4;
constexpr int kCmePhoneSimPinRequired = 5;
constexpr int kCmeSimNotInserted = 10;
constexpr int kCmeSimPinRequired = 11;
constexpr int kCmeSimPukRequired = 12;
constexpr int kCmeSimFailure = 13;
constexpr int kCmeSimBusy = 14;
constexpr int kCmeIncorrectPassword = 16;
constexpr int kCmeInvalidIndex = 21;
constexpr int kCmeNotFound = 22;
constexpr int kCmePleaseWait = 515;
constexpr int kPinTries = 3;

const char* CmeText(int code) {
    switch (code) {
        case kCmeOperationNotAllowed:
            return "operation not allowed";
        case kCmeOperationNotSupported:
            return "operation not supported";
        case kCmePhoneSimPinRequired:
            return "PH-SIM PIN required";
        case kCmeSimNotInserted:
            return "SIM not inserted";
        case kCmeSimPinRequired:
            return "SIM PIN required";
        case kCmeSimPukRequired:
            return "SIM PUK required";
        case kCmeSimFailure:
            return "SIM failure";
        case kCmeSimBusy:
            return "SIM busy";
        case kCmeIncorrectPassword:
            return "incorrect password";
        case kCmeInvalidIndex:
            return "invalid index";
        case kCmeNotFound:
            return "not found";
        case kCmePleaseWait:
            return "Please wait, init or command processing in progress";
        default:
            return "unknown";
    }
}

// Commands that need the SIM: refused while it is locked, missing or busy.
bool NeedsSim(const std::string& name) {
    static const char* const kSimCommands[] = {
        "+CPMS", "+CMGL", "+CMGR", "+CMGD", "+CMGS", "+CNUM",  "+CSCA",  "+CIMI",  "+CNMA",
        "+CPBS", "+CPBR", "+CUSD", "+CRSM", "+CCID", "^ICCID", "+QCCID", "+CICCID"};
    for (const char* command : kSimCommands)
        if (name == command) return true;
    return false;
}

const char* CmsText(int code) {
    switch (code) {
        case kCmsOperationNotAllowed:
            return "operation not allowed";
        case kCmsOperationNotSupported:
            return "operation not supported";
        case kCmsInvalidPduParameter:
            return "invalid PDU mode parameter";
        case kCmsInvalidMemoryIndex:
            return "invalid memory index";
        case kCmsSimBusy:
            return "SIM busy";
        case kCmsNoAcknowledgementExpected:
            return "no +CNMA acknowledgement expected";
        default:
            return "unknown error";
    }
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

std::optional<int> Number(std::string_view text) {
    text = TrimBlanks(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string> SplitArgs(std::string_view args) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (const char c : args) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::string Unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

std::string Digits(const std::string& number, std::size_t count) {
    std::string digits;
    for (const char c : number)
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() < count) digits.insert(0, count - digits.size(), '0');
    return digits.substr(digits.size() - count);
}

std::string QuotedNumberWithType(const std::string& number) {
    return "\"" + number + "\"," + (number.starts_with('+') ? "145" : "129");
}

// The TPDU octet count that AT+CMGL and AT+CMGR announce: the PDU less its SMSC part.
int TpduLength(const std::string& pdu) {
    const auto octets = FromHex(pdu.substr(0, 2));
    const int smsc = octets ? (*octets)[0] : 0;
    return static_cast<int>(pdu.size() / 2) - 1 - smsc;
}

// Splits "E0V1+CMGF=0;+CMGL=4" (what follows "AT") into its commands.
std::vector<std::string> SplitCommands(std::string_view body) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < body.size()) {
        if (body[pos] == ';' || body[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = pos + 1;
        if (body[pos] == '+' || body[pos] == '^') {
            bool quoted = false;
            for (; end < body.size() && (quoted || body[end] != ';'); ++end)
                if (body[end] == '"') quoted = !quoted;
        } else {
            if (body[pos] == '&' && end < body.size()) ++end;  // "&F", "&C1"
            while (end < body.size() && std::isdigit(static_cast<unsigned char>(body[end]))) ++end;
        }
        out.emplace_back(body.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

// What each maker's modems answer to AT+CGMI, as their manuals give it.
const char* ManufacturerOf(Maker maker) {
    switch (maker) {
        case Maker::Velka:
            return "Velka";
        case Maker::Huawei:
            return "huawei";
        case Maker::Quectel:
            return "Quectel";
        case Maker::Simcom:
            return "SIMCOM INCORPORATED";
    }
    return "Velka";
}

}  // namespace

const Session::HandlerEntry Session::kHandlers[] = {
    {"+CGMI", &Session::Identify},
    {"+CGMM", &Session::Identify},
    {"+CGMR", &Session::Identify},
    {"+CGSN", &Session::Identify},
    {"+CIMI", &Session::Identify},
    {"+GMI", &Session::Identify},
    {"+GMM", &Session::Identify},
    {"+GMR", &Session::Identify},
    {"+GSN", &Session::Identify},
    {"+CMEE", &Session::ErrorReporting},
    {"+CMGF", &Session::MessageFormat},
    {"+CSCS", &Session::CharacterSet},
    {"+CPMS", &Session::Storage},
    {"+CMGL", &Session::List},
    {"+CMGR", &Session::Read},
    {"+CMGD", &Session::Delete},
    {"+CMGS", &Session::Send},
    {"+CSCA", &Session::ServiceCentre},
    {"+CNMI", &Session::Indications},
    {"+CSMS", &Session::ServiceSelect},
    {"+CSQ", &Session::SignalQuality},
    {"+CREG", &Session::Registration},
    {"+CPIN", &Session::Pin},
    {"+CPINR", &Session::PinRetries},
    {"+CNMA", &Session::Acknowledge},
    {"+CNUM", &Session::OwnNumber},
    {"+COPS", &Session::Operator},
    {"+CFUN", &Session::Functionality},
    {"+CPAS", &Session::ActivityStatus},
    {"+CPBS", &Session::PhoneBookStorage},
    {"+CPBR", &Session::PhoneBookRead},
    {"+CUSD", &Session::Ussd},
    {"+CRSM", &Session::SimFile},
    {"+CCID", &Session::CardId},
    {"^ICCID", &Session::CardId},
    {"+QCCID", &Session::CardId},
    {"+CICCID", &Session::CardId},
};

namespace {

// The check digit that makes `digits` and it pass the Luhn test (ISO/IEC 7812), as
// IMEIs and ICCIDs end. Written here again rather than taken from the client, so
// that a fault in the client's check cannot hide itself.
char LuhnDigit(const std::string& digits) {
    int sum = 0;
    bool doubled = true;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        int value = *it - '0';
        if (doubled) value = value * 2 > 9 ? value * 2 - 9 : value * 2;
        sum += value;
        doubled = !doubled;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string WithLuhnDigit(const std::string& digits) {
    return digits + LuhnDigit(digits);
}

bool DigitsOfLength(const std::string& text, std::size_t shortest, std::size_t longest) {
    return text.size() >= shortest && text.size() <= longest &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// The ICCID as EF_ICCID holds it: BCD, low nibble first, padded with "F" to 10 octets.
std::string IccidFileContent(std::string iccid) {
    iccid.resize(20, 'F');
    for (std::size_t i = 0; i < iccid.size(); i += 2) std::swap(iccid[i], iccid[i + 1]);
    return iccid;
}

}  // namespace

Serials DefaultSerials(const std::string& number) {
    return Serials{WithLuhnDigit("35699900" + Digits(number, 6)),
                   WithLuhnDigit("8970199" + Digits(number, 11)), "25099" + Digits(number, 10)};
}

bool ValidSerials(const Serials& serials) {
    return DigitsOfLength(serials.imei, 15, 15) && DigitsOfLength(serials.iccid, 18, 20) &&
           serials.iccid.starts_with("89") && DigitsOfLength(serials.imsi, 6, 15);
}

namespace {

ModemIdentity WithSerials(ModemIdentity identity) {
    const Serials defaults = DefaultSerials(identity.number);
    Serials& serials = identity.serials;
    if (serials.imei.empty()) serials.imei = defaults.imei;
    if (serials.iccid.empty()) serials.iccid = defaults.iccid;
    if (serials.imsi.empty()) serials.imsi = defaults.imsi;
    return identity;
}

}  // namespace

SimCard::SimCard(ModemIdentity identity_in)
    : identity(WithSerials(std::move(identity_in))),
      sm_slots(identity.capacity),
      me_slots(identity.capacity),
      sr_slots(identity.capacity) {}

Session::Session(ModemIdentity identity)
    : Session(std::make_shared<SimCard>(std::move(identity))) {}

Session::Session(std::shared_ptr<SimCard> card) : card_(std::move(card)) {
    PowerUp();
}

void Session::PowerUp() {
    Reset();
    read_memory_ = "SM";
    ClientChanged();
    card_->pin_locked = !faults_.pin.empty() && card_->pin_tries > 0;
    card_->busy_until = std::chrono::steady_clock::now() + faults_.sim_busy;
    foreign_until_.reset();
}

void Session::Restart(bool quiet, SessionOutput& out) {
    PowerUp();
    new_message_mode_ = 0;
    if (quiet) return;
    for (const char* text : {"RDY", "+CFUN: 1", "+CPIN: READY", "SMS Ready"})
        SendUnsolicited(text, out);
}

void Session::Reset() {
    echo_ = true;
    error_mode_ = 0;
    new_message_mode_ = card_->identity.announce_received ? 1 : 0;
    report_mode_ = -1;
    charset_ = "GSM";
    registration_mode_ = 0;
    in_pdu_ = false;
    line_.clear();
    line_overflowed_ = false;
}

void Session::SetFaults(const Faults& faults) {
    // A new PIN or busy time takes effect as if the SIM had just been inserted.
    if (faults.pin != faults_.pin) {
        card_->pin_locked = !faults.pin.empty();
        card_->pin_tries = kPinTries;
    }
    if (faults.sim_busy != faults_.sim_busy)
        card_->busy_until = std::chrono::steady_clock::now() + faults.sim_busy;
    if (faults.foreign != faults_.foreign) foreign_until_.reset();
    faults_ = faults;
    random_.seed(faults.seed);
}

void Session::ClientChanged() {
    hung_ = false;
    SessionOutput unused;
    while (!unacknowledged_.empty()) {
        StoreNew(unacknowledged_.front(), unused);
        unacknowledged_.pop_front();
    }
}

// --- input ---

void Session::Feed(std::string_view bytes, SessionOutput& out) {
    if (faults_.silent || hung_) return;
    for (const char byte : bytes) {
        if (in_pdu_) {
            FeedPduByte(byte, out);
        } else {
            FeedCommandByte(byte, out);
        }
    }
}

void Session::FeedCommandByte(char byte, SessionOutput& out) {
    if (echo_) Emit(std::string(1, byte), {}, out);
    if (byte == '\r') {
        const std::string line = std::move(line_);
        line_.clear();
        if (std::exchange(line_overflowed_, false)) {
            Answer({Reply{{}, std::pair{ErrorFamily::Plain, 0}, false}}, faults_.answer_delay, out);
        } else {
            ExecuteLine(line, out);
        }
    } else if (byte == '\b' || byte == 0x7F) {
        if (!line_.empty()) line_.pop_back();
    } else if (byte != '\n') {
        // A line longer than the modem's buffer is refused whole, never cut and run.
        if (line_.size() < kLongestLine) {
            line_ += byte;
        } else {
            line_overflowed_ = true;
        }
    }
}

void Session::FeedPduByte(char byte, SessionOutput& out) {
    if (byte == kCtrlZ) {
        in_pdu_ = false;
        FinishSend(out);
    } else if (byte == kEscape) {
        // Esc abandons the message; modems confirm that nothing was sent.
        in_pdu_ = false;
        line_.clear();
        Answer({Reply{}}, faults_.answer_delay, out);
    } else {
        if (echo_) Emit(std::string(1, byte), {}, out);
        if (byte != '\r' && byte != '\n' && line_.size() < kLongestLine) line_ += byte;
    }
}

bool Session::AnsweredByAnother(SessionOutput& out) {
    if (faults_.foreign.count() == 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!foreign_until_) foreign_until_ = now + faults_.foreign;
    if (now >= *foreign_until_) return false;
    // What ModemManager asks first of a port it probes, as the modem echoes and
    // answers it; the client's line, run together with it, is refused.
    Emit("AT+GCAP\r\r\n+GCAP: +CGSM,+DS,+ES\r\n\r\nOK\r\n", faults_.answer_delay, out);
    Answer({Reply{{}, std::pair{ErrorFamily::Plain, 0}, false}}, faults_.answer_delay, out);
    return true;
}

void Session::ExecuteLine(const std::string& raw, SessionOutput& out) {
    // Modems look for "AT" and ignore anything else on the line before it.
    const std::string upper = Upper(raw);
    const std::size_t at = upper.find("AT");
    if (at == std::string::npos) return;
    const std::string line = raw.substr(at);
    if (AnsweredByAnother(out)) return;
    std::vector<Reply> replies;
    const bool hangs = StartsWithIgnoringCase(line, faults_.hang_command);
    if (StartsWithIgnoringCase(line, faults_.error_command)) {
        replies.push_back(Reply{{}, std::pair{ErrorFamily::Plain, 0}, false});
    } else {
        for (const std::string& text : SplitCommands(std::string_view(line).substr(2))) {
            replies.push_back(Execute(ParseCommand(text)));
            if (replies.back().error || replies.back().prompt) break;
        }
    }
    if (hangs) {
        Hang(replies, out);
        return;
    }
    if (!replies.empty() && replies.back().prompt) {
        EmitFaultsBeforeAnswer(line, out);
        in_pdu_ = true;
        static const char* const kPrompts[] = {"\r\n> ", "\r\n>", ">"};
        Emit(kPrompts[static_cast<int>(faults_.prompt)], faults_.answer_delay, out);
        return;
    }
    if (replies.empty()) replies.push_back(Reply{});  // a bare "AT"
    EmitFaultsBeforeAnswer(line, out);
    Answer(replies, faults_.answer_delay + std::exchange(answer_held_, {}), out);
    if (ussd_result_)
        Emit("\r\n" + *std::exchange(ussd_result_, std::nullopt) + "\r\n",
             faults_.answer_delay + faults_.ussd_delay, out);
}

// "E0" is a basic command with its argument; "+CMGL=4", "+CMGL?", "+CMGL=?" and
// "+CMGL" are the set, query, test and action forms of an extended one.
Session::Command Session::ParseCommand(const std::string& text) {
    Command command;
    if (text[0] != '+' && text[0] != '^') {
        command.name = Upper(text.substr(0, text[0] == '&' ? 2 : 1));
        command.args = text.substr(command.name.size());
        return command;
    }
    const std::size_t name_end = text.find_first_of("=?", 1);
    command.name = Upper(text.substr(0, name_end));
    if (name_end == std::string::npos) return command;
    const std::string rest = text.substr(name_end);
    command.kind = rest == "?" ? Kind::Query : rest == "=?" ? Kind::Test : Kind::Set;
    command.args = command.kind == Kind::Set ? rest.substr(1) : "";
    return command;
}

// A modem that hangs in the middle of an answer: the first half of its lines (of a
// listing, the first messages) and then nothing, until the client lets go of the port.
void Session::Hang(const std::vector<Reply>& replies, SessionOutput& out) {
    faults_.hang_command.clear();
    hung_ = true;
    in_pdu_ = false;
    const std::vector<std::string>& lines = replies.front().lines;
    std::string text;
    for (std::size_t i = 0; i < (lines.size() + 1) / 2; ++i) text += "\r\n" + lines[i];
    if (!text.empty()) Emit(text + "\r\n", faults_.answer_delay, out);
}

std::optional<std::pair<Session::ErrorFamily, int>> Session::SimRefusal(const Command& c) const {
    const bool query = c.name == "+CPIN" || c.name == "+CPINR";
    if (!NeedsSim(c.name) && !query) return std::nullopt;
    if (faults_.sim == SimCondition::Missing)
        return std::pair{ErrorFamily::Equipment, kCmeSimNotInserted};
    if (faults_.sim == SimCondition::Failed)
        return std::pair{ErrorFamily::Equipment, kCmeSimFailure};
    if (std::chrono::steady_clock::now() < card_->busy_until) {
        const auto family =
            faults_.busy_code == kCmsSimBusy ? ErrorFamily::Message : ErrorFamily::Equipment;
        return std::pair{family, faults_.busy_code};
    }
    if (query) return std::nullopt;
    if (faults_.sim == SimCondition::PhoneLocked)
        return std::pair{ErrorFamily::Equipment, kCmePhoneSimPinRequired};
    if (card_->pin_tries == 0) return std::pair{ErrorFamily::Equipment, kCmeSimPukRequired};
    if (card_->pin_locked) return std::pair{ErrorFamily::Equipment, kCmeSimPinRequired};
    return std::nullopt;
}

Session::Reply Session::Execute(const Command& command) {
    if (command.name[0] != '+' && command.name[0] != '^') return Basic(command);
    if (command.kind != Kind::Test)
        if (const auto refusal = SimRefusal(command)) return Reply{{}, refusal, false};
    for (const HandlerEntry& entry : kHandlers)
        if (command.name == entry.name) return (this->*entry.handler)(command);
    return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
}

// --- output ---

void Session::Emit(std::string text, std::chrono::milliseconds delay, SessionOutput& out) {
    out.emissions.push_back(Emission{delay, std::move(text)});
}

void Session::EmitFaultsBeforeAnswer(const std::string& line, SessionOutput& out) {
    if (!faults_.unsolicited_line.empty() &&
        StartsWithIgnoringCase(line, faults_.unsolicited_command))
        SendUnsolicited(faults_.unsolicited_line, out);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (faults_.random_unsolicited > 0 && chance(random_) < faults_.random_unsolicited) {
        // The lines that USB modems volunteer at any moment.
        static const char* const kLines[] = {"RING", "+CREG: 1", "^RSSI:17",
                                             "^BOOT:20952507,0,0,0,72", "+CMTI: \"SM\",1"};
        SendUnsolicited(kLines[std::uniform_int_distribution<std::size_t>(0, 4)(random_)], out);
    }
    if (faults_.random_noise > 0 && chance(random_) < faults_.random_noise)
        SendNoise(std::uniform_int_distribution<std::size_t>(1, 8)(random_), out);
}

std::string Session::FinalText(const Reply& reply) const {
    if (!reply.error) return "OK";
    const auto [family, code] = *reply.error;
    switch (family) {
        case ErrorFamily::Plain:
            return faults_.refusal_text.empty() ? "ERROR" : faults_.refusal_text;
        case ErrorFamily::Equipment:
            if (error_mode_ == 0) return "ERROR";
            return "+CME ERROR: " + (error_mode_ == 1 ? std::to_string(code) : CmeText(code));
        case ErrorFamily::Message:
            // Message commands report "+CMS ERROR" whatever AT+CMEE says; the
            // verbose setting only turns the code into text.
            return "+CMS ERROR: " +
                   (error_mode_ == 2 ? std::string(CmsText(code)) : std::to_string(code));
    }
    return "ERROR";
}

void Session::Answer(const std::vector<Reply>& replies, std::chrono::milliseconds delay,
                     SessionOutput& out) {
    std::string text;
    for (const Reply& reply : replies) {
        if (reply.lines.empty()) continue;
        text += "\r\n";
        for (std::size_t i = 0; i < reply.lines.size(); ++i)
            text += reply.lines[i] + (i + 1 < reply.lines.size() ? "\r\n" : "");
        text += "\r\n";
    }
    for (const std::string& line : inside_answer_) text += "\r\n" + line + "\r\n";
    inside_answer_.clear();
    text += "\r\n" + FinalText(replies.back()) + "\r\n";
    for (const std::string& line : after_answer_) text += "\r\n" + line + "\r\n";
    after_answer_.clear();
    if (faults_.lower_case)
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Emit(std::move(text), delay, out);
}

void Session::SendUnsolicited(const std::string& line, SessionOutput& out) {
    Emit("\r\n" + line + "\r\n", {}, out);
}

void Session::SendNoise(std::size_t count, SessionOutput& out) {
    std::string noise;
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < count; ++i) noise += static_cast<char>(byte(random_));
    Emit(std::move(noise), {}, out);
}

// --- the store ---

std::vector<Session::MemoryPart> Session::Parts(const std::string& memory) {
    if (memory == "ME") return {{&card_->me_slots, 0}};
    if (memory == "SR") return {{&card_->sr_slots, 0}};
    if (memory == "MT")
        return {{&card_->sm_slots, 0},
                {&card_->me_slots, static_cast<int>(card_->sm_slots.size())}};
    return {{&card_->sm_slots, 0}};
}

bool Session::Offers(const std::string& memory) const {
    return memory == "SM" || memory == faults_.new_memory ||
           (memory == "SR" && faults_.reports == ReportMode::IndicatedInSr);
}

Slots& Session::NewMessageSlots() {
    return faults_.new_memory == "SM" ? card_->sm_slots : card_->me_slots;
}

std::optional<int> Session::StoreFree(const Slots& cells) const {
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (!cells[i]) return static_cast<int>(i) + 1;
    return std::nullopt;
}

std::vector<StoredMessage> Session::Messages() const {
    std::vector<StoredMessage> out;
    for (const Slots* cells : {&card_->sm_slots, &card_->me_slots, &card_->sr_slots})
        for (const auto& slot : *cells)
            if (slot) out.push_back(*slot);
    return out;
}

void Session::Receive(const std::string& deliver_pdu, SessionOutput& out, bool client_present) {
    if (faults_.direct != DirectDelivery::Off && client_present && !faults_.silent && !hung_) {
        HandOver("+CMT: ," + std::to_string(TpduLength(deliver_pdu)), deliver_pdu, out);
        return;
    }
    StoreNew(deliver_pdu, out);
}

void Session::StoreNew(const std::string& pdu, SessionOutput& out) {
    Slots& cells = NewMessageSlots();
    if (!StoreFree(cells)) {
        card_->held_back.push_back(pdu);
        return;
    }
    const int index = StoreDelivered(cells, pdu);
    if (Announcing()) Announce(Announcement(index), out);
}

void Session::Announce(std::string line, SessionOutput& out) {
    if (faults_.announce_inside) {
        inside_answer_.push_back(std::move(line));
    } else {
        SendUnsolicited(line, out);
    }
}

void Session::HandOver(const std::string& header, const std::string& pdu, SessionOutput& out) {
    if (faults_.direct == DirectDelivery::Acknowledged) unacknowledged_.push_back(pdu);
    Emit("\r\n" + header + "\r\n" + pdu + "\r\n", {}, out);
}

int Session::StoreDelivered(Slots& cells, const std::string& pdu) {
    const int index = *StoreFree(cells);
    const std::string memory = &cells == &card_->sm_slots   ? "SM"
                               : &cells == &card_->sr_slots ? "SR"
                                                            : "ME";
    cells[static_cast<std::size_t>(index) - 1] =
        StoredMessage{memory, index, MessageStatus::ReceivedUnread, pdu};
    // In "MT" the modem's own cells come after the SIM's.
    const bool after_sim = &cells == &card_->me_slots && faults_.new_memory == "MT";
    return after_sim ? index + static_cast<int>(card_->sm_slots.size()) : index;
}

bool Session::Announcing() const {
    return new_message_mode_ == 1 && !faults_.silent && !faults_.mute;
}

std::string Session::Announcement(int index) const {
    return "+CMTI: \"" + faults_.new_memory + "\"," + std::to_string(index);
}

// The network's report of what became of the message just accepted: it reached its
// recipient, or met the status the faults name.
void Session::ReportDelivery(const Submit& submit, std::uint8_t reference, SessionOutput& out) {
    const StatusReport report{card_->identity.service_centre,
                              reference,
                              submit.destination,
                              NowLocal(),
                              NowLocal(),
                              NextReportStatus()};
    const std::string pdu = BuildStatusReport(report);
    const ReportMode mode = Reporting();
    if (mode == ReportMode::Direct) {
        HandOver("+CDS: " + std::to_string(TpduLength(pdu)), pdu, out);
        return;
    }
    const bool in_sr = mode == ReportMode::IndicatedInSr;
    Slots& cells = in_sr ? card_->sr_slots : card_->sm_slots;
    const auto index = StoreFree(cells);
    if (!index) return;  // a full memory loses the report, as real ones do
    StoreDelivered(cells, pdu);
    if ((mode == ReportMode::Indicated || in_sr) && !faults_.mute)
        Announce(std::string("+CDSI: \"") + (in_sr ? "SR" : "SM") + "\"," + std::to_string(*index),
                 out);
}

ReportMode Session::Reporting() const {
    return report_mode_ == 0 ? ReportMode::Stored : faults_.reports;
}

std::uint8_t Session::NextReportStatus() {
    if (faults_.report_status_count == 0) return 0;
    if (faults_.report_status_count > 0) --faults_.report_status_count;
    return faults_.report_status;
}

// --- commands ---

Session::Reply Session::Basic(const Command& c) {
    const std::optional<int> value = c.args.empty() ? std::optional<int>(0) : Number(c.args);
    if (c.name == "E" && value && *value <= 1) {
        echo_ = *value == 1 || faults_.echo_stuck;
        return {};
    }
    if ((c.name == "Z" || c.name == "&F") && value == 0) {
        Reset();
        return {};
    }
    if (c.name == "I") return Reply{{"Velka", "Virtual GSM Modem", "Revision: 1.0"}, {}, false};
    // Verbose results, results on, and the line-signal options: the only values served.
    if ((c.name == "V" && value == 1) || (c.name == "Q" && value == 0) || c.name == "&C" ||
        c.name == "&D" || c.name == "X")
        return {};
    return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
}

Session::Reply Session::Identify(const Command& c) {
    if (c.kind == Kind::Test) return {};
    if (c.kind != Kind::Action) return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
    const std::string& n = c.name;
    if (n == "+CGMI" || n == "+GMI") return Reply{{ManufacturerOf(faults_.maker)}, {}, false};
    if (n == "+CGMM" || n == "+GMM") return Reply{{"Virtual GSM Modem"}, {}, false};
    if (n == "+CGMR" || n == "+GMR") return Reply{{"1.0"}, {}, false};
    if (n == "+CGSN" || n == "+GSN") return Reply{{card_->identity.serials.imei}, {}, false};
    return Reply{{card_->identity.serials.imsi}, {}, false};  // +CIMI
}

// AT+CRSM: of the SIM's files only EF_ICCID is served, to READ BINARY (TS 27.007
// restricted SIM access; status words of ETSI TS 102 221).
Session::Reply Session::SimFile(const Command& c) {
    constexpr int kReadBinary = 176;
    constexpr int kIccidFile = 0x2FE2;
    if (c.kind == Kind::Test) return {};
    const std::vector<std::string> args = SplitArgs(c.args);
    if (c.kind != Kind::Set || args.size() < 2)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    if (Number(args[0]) != kReadBinary)
        return Reply{{"+CRSM: 109,0"}, {}, false};  // 6D00: instruction not supported
    if (Number(args[1]) != kIccidFile)
        return Reply{{"+CRSM: 106,130"}, {}, false};  // 6A82: file not found
    return Reply{
        {"+CRSM: 144,0,\"" + IccidFileContent(card_->identity.serials.iccid) + "\""}, {}, false};
}

// AT+CCID, and the maker's own command where Faults::maker names that maker.
Session::Reply Session::CardId(const Command& c) {
    const std::string& iccid = card_->identity.serials.iccid;
    const Maker maker = faults_.maker;
    const bool query = c.kind == Kind::Query;
    if (c.name == "+CCID" && (c.kind == Kind::Action || query))
        return Reply{{"+CCID: " + iccid}, {}, false};
    if (c.name == "^ICCID" && maker == Maker::Huawei && query)
        return Reply{{"^ICCID: " + IccidFileContent(iccid)}, {}, false};
    if (c.name == "+QCCID" && maker == Maker::Quectel && c.kind == Kind::Action)
        return Reply{{"+QCCID: " + iccid}, {}, false};
    if (c.name == "+CICCID" && maker == Maker::Simcom && c.kind == Kind::Action)
        return Reply{{"+ICCID: " + iccid}, {}, false};
    if (c.kind == Kind::Test && c.name == "+CCID") return {};
    return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
}

Session::Reply Session::ErrorReporting(const Command& c) {
    if (c.kind == Kind::Query) return Reply{{"+CMEE: " + std::to_string(error_mode_)}, {}, false};
    if (c.kind == Kind::Test) return Reply{{"+CMEE: (0-2)"}, {}, false};
    const auto mode = c.kind == Kind::Action ? std::optional<int>(0) : Number(c.args);
    if (!mode || *mode < 0 || *mode > 2)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    error_mode_ = *mode;
    return {};
}

Session::Reply Session::MessageFormat(const Command& c) {
    if (c.kind == Kind::Query) return Reply{{"+CMGF: 0"}, {}, false};
    if (c.kind == Kind::Test) return Reply{{"+CMGF: (0)"}, {}, false};
    // Only PDU mode is served; text mode is refused as modems without it refuse it.
    if (Number(c.args) == 0) return {};
    return Reply{{}, std::pair{ErrorFamily::Message, kCmsOperationNotSupported}, false};
}

// How the phone book's names are written, by the names AT+CSCS takes.
constexpr std::pair<const char*, NameCharset> kCharsets[] = {{"GSM", NameCharset::Gsm},
                                                             {"IRA", NameCharset::Ira},
                                                             {"HEX", NameCharset::Hex},
                                                             {"UCS2", NameCharset::Ucs2}};

Session::Reply Session::CharacterSet(const Command& c) {
    if (c.kind == Kind::Query) return Reply{{"+CSCS: \"" + charset_ + "\""}, {}, false};
    std::string offered;
    bool known = false;
    const std::string set = Upper(Unquoted(c.args));
    for (const std::string& name : faults_.charsets) {
        offered += std::string(offered.empty() ? "" : ",") + "\"" + name + "\"";
        known = known || set == name;
    }
    if (c.kind == Kind::Test) return Reply{{"+CSCS: (" + offered + ")"}, {}, false};
    if (!known)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    charset_ = set;
    return {};
}

Session::Reply Session::PhoneBookStorage(const Command& c) {
    const Reply none{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    const bool on_sim = phone_book_storage_ == "SM";
    if (c.kind == Kind::Test)
        return Reply{
            {faults_.no_phone_book ? "+CPBS: (\"ME\")" : "+CPBS: (\"SM\",\"ME\")"}, {}, false};
    if (c.kind == Kind::Query) {
        const std::size_t used = on_sim ? card_->phone_book.entries().size() : 0;
        return Reply{{"+CPBS: \"" + phone_book_storage_ + "\"," + std::to_string(used) + "," +
                      std::to_string(PhoneBook::kCapacity)},
                     {},
                     false};
    }
    const std::string storage = Upper(Unquoted(c.args));
    if (c.kind != Kind::Set || (storage != "SM" && storage != "ME") ||
        (storage == "SM" && faults_.no_phone_book))
        return none;
    phone_book_storage_ = storage;
    return {};
}

Session::Reply Session::PhoneBookRead(const Command& c) {
    const auto refused = [](int code) {
        return Reply{{}, std::pair{ErrorFamily::Equipment, code}, false};
    };
    if (faults_.no_phone_book && phone_book_storage_ == "SM")
        return refused(kCmeOperationNotSupported);
    if (c.kind == Kind::Test)
        return Reply{{"+CPBR: (1-" + std::to_string(PhoneBook::kCapacity) + ")," +
                      std::to_string(PhoneBook::kNumberLength) + "," +
                      std::to_string(PhoneBook::kNameLength)},
                     {},
                     false};
    const auto args = SplitArgs(c.args);
    const auto first = Number(args[0]);
    const auto last = args.size() > 1 ? Number(args[1]) : first;
    if (c.kind != Kind::Set || args.size() > 2 || !first || !last || *first < 1 || *last < *first ||
        *last > PhoneBook::kCapacity)
        return refused(kCmeInvalidIndex);
    NameCharset charset = NameCharset::Ira;
    for (const auto& [name, set] : kCharsets)
        if (charset_ == name) charset = set;
    Reply reply;
    if (phone_book_storage_ == "SM") {
        for (const PhoneBookEntry& entry : card_->phone_book.entries()) {
            const bool full =
                faults_.phone_book_chunk > 0 &&
                reply.lines.size() >= static_cast<std::size_t>(faults_.phone_book_chunk);
            if (entry.index < *first || entry.index > *last || full) continue;
            reply.lines.push_back(EntryLine(entry, charset, faults_.ucs2_records));
        }
    }
    if (reply.lines.empty() && faults_.empty_range != 0) return refused(faults_.empty_range);
    return reply;
}

std::optional<StoredMessage>* Session::Slot(int listed_index) {
    for (const MemoryPart& part : Parts(read_memory_)) {
        const int at = listed_index - part.offset;
        if (at >= 1 && at <= static_cast<int>(part.cells->size()))
            return &(*part.cells)[static_cast<std::size_t>(at) - 1];
    }
    return nullptr;
}

Session::Reply Session::Storage(const Command& c) {
    const auto counted = [this] {
        std::size_t used = 0, total = 0;
        for (const MemoryPart& part : Parts(read_memory_)) {
            total += part.cells->size();
            for (const auto& slot : *part.cells) used += slot.has_value();
        }
        return std::to_string(used) + "," + std::to_string(total);
    };
    const std::string counts = counted();
    if (c.kind == Kind::Test) {
        std::string offered = "(\"SM\"";
        if (faults_.new_memory != "SM") offered += ",\"" + faults_.new_memory + "\"";
        if (Offers("SR")) offered += ",\"SR\"";
        offered += ")";
        return Reply{{"+CPMS: " + offered + "," + offered + "," + offered}, {}, false};
    }
    const std::string quoted = "\"" + read_memory_ + "\",";
    if (c.kind == Kind::Query)
        return Reply{{"+CPMS: " + quoted + counts + "," + quoted + counts + "," + quoted + counts},
                     {},
                     false};
    const auto memories = SplitArgs(c.args);
    if (c.kind != Kind::Set || memories.size() > 3)
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsOperationNotAllowed}, false};
    for (const std::string& memory : memories)
        if (!Offers(Upper(Unquoted(memory))))
            return Reply{{}, std::pair{ErrorFamily::Message, kCmsOperationNotAllowed}, false};
    read_memory_ = Upper(Unquoted(memories[0]));
    const std::string now = counted();
    return Reply{{"+CPMS: " + now + "," + now + "," + now}, {}, false};
}

Session::Reply Session::List(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CMGL: (0-4)"}, {}, false};
    const auto wanted = c.kind == Kind::Action ? std::optional<int>(0) : Number(c.args);
    if (c.kind == Kind::Query || !wanted || *wanted < 0 || *wanted > 4)
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsInvalidPduParameter}, false};
    Reply reply;
    for (const MemoryPart& part : Parts(read_memory_)) {
        for (auto& slot : *part.cells) {
            if (!slot || (*wanted != 4 && static_cast<int>(slot->status) != *wanted)) continue;
            reply.lines.push_back("+CMGL: " + std::to_string(slot->index + part.offset) + "," +
                                  std::to_string(static_cast<int>(slot->status)) + ",," +
                                  std::to_string(TpduLength(slot->pdu)));
            reply.lines.push_back(slot->pdu);
            // Listing a new message is reading it, on the SIM as on the handset.
            if (slot->status == MessageStatus::ReceivedUnread)
                slot->status = MessageStatus::ReceivedRead;
        }
    }
    return reply;
}

Session::Reply Session::Read(const Command& c) {
    if (c.kind == Kind::Test) return {};
    const auto index = Number(c.args);
    auto* slot = c.kind == Kind::Set && index ? Slot(*index) : nullptr;
    if (slot == nullptr || !*slot)
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsInvalidMemoryIndex}, false};
    StoredMessage& message = **slot;
    Reply reply{{"+CMGR: " + std::to_string(static_cast<int>(message.status)) + ",," +
                     std::to_string(TpduLength(message.pdu)),
                 message.pdu},
                {},
                false};
    if (message.status == MessageStatus::ReceivedUnread)
        message.status = MessageStatus::ReceivedRead;
    return reply;
}

Session::Reply Session::Delete(const Command& c) {
    if (c.kind == Kind::Test)
        return Reply{
            {"+CMGD: (1-" + std::to_string(card_->sm_slots.size()) + "),(0-4)"}, {}, false};
    const auto args = SplitArgs(c.args);
    const auto index = Number(args[0]);
    const auto flag = args.size() > 1 ? Number(args[1]) : std::optional<int>(0);
    if (c.kind != Kind::Set || !index || !flag || *flag < 0 || *flag > 4 ||
        (*flag == 0 && Slot(*index) == nullptr))
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsInvalidMemoryIndex}, false};
    if (*flag == 0) Slot(*index)->reset();
    for (const MemoryPart& part : Parts(read_memory_)) {
        for (auto& slot : *part.cells) {
            if (!slot || *flag == 0) continue;
            const auto status = static_cast<int>(slot->status);
            // The delete flags of 27.005: 1 read, 2 also sent, 3 also unsent, 4 everything.
            if (status == 1 || (*flag >= 2 && status == 3) || (*flag >= 3 && status == 2) ||
                *flag == 4)
                slot.reset();
        }
    }
    // Messages that waited for room arrive now; their announcements follow this answer.
    Slots& cells = NewMessageSlots();
    while (!card_->held_back.empty() && StoreFree(cells)) {
        const int stored = StoreDelivered(cells, card_->held_back.front());
        card_->held_back.pop_front();
        if (Announcing()) after_answer_.push_back(Announcement(stored));
    }
    return {};
}

Session::Reply Session::Send(const Command& c) {
    if (c.kind == Kind::Test) return {};
    const auto length = Number(SplitArgs(c.args)[0]);
    if (c.kind != Kind::Set || !length || *length < 7 || *length > 176)
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsInvalidPduParameter}, false};
    announced_length_ = *length;
    line_.clear();
    return Reply{{}, {}, true};
}

void Session::FinishSend(SessionOutput& out) {
    const std::string pdu = std::move(line_);
    line_.clear();
    auto submit = ParseSubmit(pdu, announced_length_);
    Reply reply;
    if (!submit) {
        reply.error = std::pair{ErrorFamily::Message, kCmsInvalidPduParameter};
    } else if (faults_.send_error != 0) {
        reply.error = std::pair{ErrorFamily::Message, faults_.send_error};
    } else if (faults_.send_refusals > 0) {
        --faults_.send_refusals;
        reply.error = std::pair{ErrorFamily::Message, faults_.refusal_code};
    } else if (faults_.send_limit > 0 && card_->accepted_sends >= faults_.send_limit) {
        reply.error = std::pair{ErrorFamily::Message, faults_.limit_code};
    } else {
        reply.lines.push_back("+CMGS: " + std::to_string(card_->next_reference));
        ++card_->accepted_sends;
    }
    Answer(
        {reply},
        faults_.answer_delay + (reply.error ? std::chrono::milliseconds{0} : faults_.confirm_delay),
        out);
    if (reply.error) return;
    if (faults_.reports != ReportMode::Off && submit->status_report)
        ReportDelivery(*submit, card_->next_reference, out);
    ++card_->next_reference;  // wraps from 255 to 0, as TP-MR does
    out.submits.push_back(std::move(*submit));
}

Session::Reply Session::ServiceCentre(const Command& c) {
    if (c.kind == Kind::Query)
        return Reply{{"+CSCA: " + QuotedNumberWithType(card_->identity.service_centre)}, {}, false};
    if (c.kind == Kind::Test) return {};
    const std::string number = Unquoted(SplitArgs(c.args)[0]);
    if (c.kind != Kind::Set || number.empty())
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsOperationNotAllowed}, false};
    card_->identity.service_centre = number;
    return {};
}

// AT+CNMI of 27.005: <mode>,<mt>,<bm>,<ds>,<bfr>. Only <mt> and <ds> change what
// this modem does; every value must lie in the ranges the test form offers.
Session::Reply Session::Indications(const Command& c) {
    static constexpr int kFull[] = {3, 3, 3, 2, 1};    // the highest value of each
    static constexpr int kNarrow[] = {2, 1, 0, 0, 0};  // mode 0-2, mt 0-1, the rest 0
    const Reply refused{{}, std::pair{ErrorFamily::Message, kCmsOperationNotSupported}, false};
    if (faults_.indications == IndicationSupport::Refused)
        return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
    const int* highest = faults_.indications == IndicationSupport::Full ? kFull : kNarrow;
    if (c.kind == Kind::Query) {
        return Reply{{"+CNMI: 2," + std::to_string(new_message_mode_) + ",0," +
                      std::to_string(std::max(report_mode_, 0)) + ",0"},
                     {},
                     false};
    }
    if (c.kind == Kind::Test) {
        std::string ranges = "+CNMI: ";
        for (int i = 0; i < 5; ++i) {
            if (i > 0) ranges += ',';
            ranges += highest[i] == 0 ? "(0)" : "(0-" + std::to_string(highest[i]) + ")";
        }
        return Reply{{ranges}, {}, false};
    }
    const auto args = SplitArgs(c.args);
    if (c.kind != Kind::Set || args.size() > 5) return refused;
    std::vector<int> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto value = args[i].empty() ? std::optional<int>(0) : Number(args[i]);
        if (!value || *value < 0 || *value > highest[i]) return refused;
        values.push_back(*value);
    }
    if (values.size() > 1) new_message_mode_ = values[1];
    if (values.size() > 3) report_mode_ = values[3];
    return {};
}

Session::Reply Session::ServiceSelect(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CSMS: (0)"}, {}, false};
    if (c.kind == Kind::Query) return Reply{{"+CSMS: 0,1,1,1"}, {}, false};
    return Reply{{"+CSMS: 1,1,1"}, {}, false};
}

Session::Reply Session::SignalQuality(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CSQ: (0-31,99),(0-7,99)"}, {}, false};
    return Reply{{"+CSQ: 20,99"}, {}, false};
}

Session::Reply Session::Registration(const Command& c) {
    if (c.kind == Kind::Query)
        return Reply{{"+CREG: " + std::to_string(registration_mode_) + ",1"}, {}, false};
    if (c.kind == Kind::Test) return Reply{{"+CREG: (0-2)"}, {}, false};
    const auto mode = Number(c.args);
    if (c.kind != Kind::Set || !mode || *mode < 0 || *mode > 2)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    registration_mode_ = *mode;
    return {};
}

Session::Reply Session::Pin(const Command& c) {
    if (c.kind == Kind::Test) return {};
    if (c.kind == Kind::Query) {
        if (faults_.sim == SimCondition::PhoneLocked)
            return Reply{{"+CPIN: PH-SIM PIN"}, {}, false};
        if (card_->pin_tries == 0) return Reply{{"+CPIN: SIM PUK"}, {}, false};
        return Reply{{card_->pin_locked ? "+CPIN: SIM PIN" : "+CPIN: READY"}, {}, false};
    }
    if (c.kind != Kind::Set || !card_->pin_locked)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotAllowed}, false};
    if (card_->pin_tries == 0)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeSimPukRequired}, false};
    if (Unquoted(SplitArgs(c.args)[0]) != faults_.pin) {
        --card_->pin_tries;
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeIncorrectPassword}, false};
    }
    card_->pin_locked = false;
    card_->pin_tries = kPinTries;
    return {};
}

// AT+CPINR of 27.007: the tries left for the SIM's PIN.
Session::Reply Session::PinRetries(const Command& c) {
    if (c.kind == Kind::Test) return {};
    return Reply{
        {"+CPINR: SIM PIN," + std::to_string(card_->pin_tries) + "," + std::to_string(kPinTries)},
        {},
        false};
}

Session::Reply Session::Acknowledge(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CNMA: (0-2)"}, {}, false};
    if (unacknowledged_.empty())
        return Reply{{}, std::pair{ErrorFamily::Message, kCmsNoAcknowledgementExpected}, false};
    unacknowledged_.pop_front();
    return {};
}

Session::Reply Session::OwnNumber(const Command& c) {
    if (c.kind == Kind::Test) return {};
    return Reply{{"+CNUM: \"\"," + QuotedNumberWithType(card_->identity.number)}, {}, false};
}

Session::Reply Session::Operator(const Command& c) {
    if (c.kind == Kind::Query) return Reply{{"+COPS: 0,0,\"Velka Net\""}, {}, false};
    if (c.kind == Kind::Test)
        return Reply{{"+COPS: (2,\"Velka Net\",\"Velka\",\"25099\"),,(0-4),(0-2)"}, {}, false};
    return {};
}

Session::Reply Session::Functionality(const Command& c) {
    if (c.kind == Kind::Query) return Reply{{"+CFUN: 1"}, {}, false};
    if (c.kind == Kind::Test) return Reply{{"+CFUN: (0-1),(0-1)"}, {}, false};
    return {};
}

Session::Reply Session::ActivityStatus(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CPAS: (0-5)"}, {}, false};
    return Reply{{"+CPAS: 0"}, {}, false};
}

// AT+CUSD of 27.007: <n> 2 ends the session; a request or reply in <str> is
// answered by the network as the USSD faults say, or not at all.
Session::Reply Session::Ussd(const Command& c) {
    if (c.kind == Kind::Test) return Reply{{"+CUSD: (0-2)"}, {}, false};
    if (c.kind == Kind::Query) return Reply{{"+CUSD: 1"}, {}, false};
    const auto args = SplitArgs(c.args);
    const auto mode = c.kind == Kind::Action ? std::optional<int>(0) : Number(args[0]);
    if (!mode || *mode < 0 || *mode > 2)
        return Reply{{}, std::pair{ErrorFamily::Equipment, kCmeOperationNotSupported}, false};
    if (*mode == 2) {
        ussd_.End();
        return {};
    }
    if (args.size() < 2) return {};
    const auto request = UssdRequestText(Unquoted(args[1]), faults_.ussd_request);
    if (!request) return Reply{{}, std::pair{ErrorFamily::Plain, 0}, false};
    const auto step = ussd_.Answer(*request);
    if (!step) return {};
    std::string result = UssdResultLine(*step, faults_.ussd_coding, faults_.ussd_form);
    if (faults_.ussd_order == UssdOrder::AfterOk) {
        ussd_result_ = std::move(result);
        return {};
    }
    answer_held_ = faults_.ussd_delay;
    return Reply{{std::move(result)}, {}, false};
}

}  // namespace velka::modemsim
