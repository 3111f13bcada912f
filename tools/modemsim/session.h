// The AT command interpreter of one simulated modem: bytes from the client in,
// timed bytes to the client out. It keeps the modem's settings, its SIM message
// store and its faults, and knows nothing of terminals or threads: the Modem that
// owns it feeds it under its lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modemsim/pdu.h"
#include "tools/modemsim/phone_book.h"
#include "tools/modemsim/ussd.h"

namespace velka::modemsim {

enum class SimCondition { Present, Missing, Failed, PhoneLocked };
// New messages handed over as "+CMT:" instead of stored; with Acknowledged each
// must be acknowledged with AT+CNMA.
enum class DirectDelivery { Off, On, Acknowledged };
// Status reports kept in "SM" (listed among the messages), kept and announced with
// "+CDSI:", or handed over as "+CDS:".
// Status reports: none; kept in "SM"; kept in "SM" and announced with "+CDSI"; handed
// over with "+CDS"; kept in the status report memory "SR" and announced there.
enum class ReportMode { Off, Stored, Indicated, Direct, IndicatedInSr };
enum class PromptForm { CrLfBlank, CrLf, Bare };  // "\r\n> ", "\r\n>", ">"
// How AT+CNMI is served: every value 27.005 names; only mode 0-2, mt 0-1 and the
// rest 0, as many modems offer; or not at all ("ERROR" to every form).
enum class IndicationSupport { Full, Narrow, Refused };
// Whose modem it pretends to be: its answer to AT+CGMI and the maker's own ICCID
// command it serves besides AT+CRSM and AT+CCID (Huawei "AT^ICCID?", answered in
// the SIM file's nibble-swapped form; Quectel "AT+QCCID"; SIMCom "AT+CICCID",
// answered "+ICCID:").
enum class Maker { Velka, Huawei, Quectel, Simcom };

// Misbehaviour to put on a modem; everything off by default.
struct Faults {
    bool silent = false;          // reads everything, answers nothing, echoes nothing
    std::string error_command{};  // a command line starting with this ("AT+CMGF") gets "ERROR"
    int send_error = 0;           // not 0: every send ends in "+CMS ERROR: <send_error>"
    std::chrono::milliseconds answer_delay{0};   // every answer comes this much later
    std::chrono::milliseconds confirm_delay{0};  // the "+CMGS:" confirmation comes this much later
    bool lower_case = false;                     // answers in lower case ("ok", "+cmgs: 3")
    bool echo_stuck = false;                     // "ATE0" is answered "OK" but the echo stays on
    std::string unsolicited_command{};  // before the answer to a command line starting with this...
    std::string unsolicited_line{};     // ...this unsolicited line comes
    double random_unsolicited = 0;      // chance, per answer, of a random unsolicited line first
    double random_noise = 0;            // chance, per answer, of a burst of noise bytes first
    std::uint32_t seed = 1;             // of the random faults, so that a run can be repeated

    // The SIM and the ways real modems differ.
    std::string pin{};  // not empty: the SIM asks for it after power-up
    SimCondition sim = SimCondition::Present;
    std::chrono::milliseconds sim_busy{0};  // after power-up, the SIM answers busy this long
    int busy_code = 14;                     // 14 or 515 (+CME ERROR), 314 (+CMS ERROR)
    std::string new_memory = "SM";          // where new messages go: "SM", "ME" or "MT"
    DirectDelivery direct = DirectDelivery::Off;
    ReportMode reports = ReportMode::Off;  // a status report for every accepted send asking one
    std::uint8_t report_status = 0;  // the TP-ST those reports carry: 0 delivered, 0x40.. failed...
    int report_status_count = -1;    // ...the next this many of them (later ones 0); -1: all
    std::string hang_command{};      // the next line starting with this hangs the modem
    PromptForm prompt = PromptForm::CrLfBlank;
    int send_refusals = 0;   // the next sends refused with refusal_code...
    int refusal_code = 314;  // ...a +CMS ERROR code
    // Not 0: the operator blocks the SIM after this many accepted sends (counted
    // since the modem started or the count was reset, Session::ResetSendCount):
    // every later send gets "+CMS ERROR: <limit_code>".
    int send_limit = 0;
    // 21, "short message transfer rejected" (TS 24.011's RP-cause): the network's
    // refusal of this subscriber's message, not a transient failure such as 38
    // (network out of order) or 42 (congestion) that a retry would get past.
    int limit_code = 21;
    Maker maker = Maker::Velka;
    IndicationSupport indications = IndicationSupport::Full;
    // The "+CMTI" of an arrival is held back and put inside the next answer, between
    // its information lines and its final result, as modems do that announce while
    // they answer.
    bool announce_inside = false;
    // Not empty: what the modem answers instead of a plain "ERROR" (a command it does
    // not know, or one refused by `error_command`), as some makers' firmware answers
    // "COMMAND NOT SUPPORT" or "TOO MANY PARAMETERS".
    std::string refusal_text{};
    // Takes AT+CNMI but never announces on this port, as modems that send their
    // unsolicited texts on another of their interfaces do.
    bool mute = false;
    // Not 0: from the first command line after power-up (or after this is set), this
    // long, another program shares the port, as ModemManager does while it probes a
    // new modem: each command line of the client is lost among its own and answered
    // with its traffic (the echo of its command, that command's answer and "OK"),
    // then "ERROR" for the mangled line.
    std::chrono::milliseconds foreign{0};

    // The SIM's phone book and the ways modems serve it differently.
    bool no_phone_book = false;  // the SIM has none: AT+CPBS="SM" and AT+CPBR are refused
    int phone_book_chunk = 0;    // not 0: AT+CPBR gives at most this many entries, then "OK"
    // A range without entries is answered "+CME ERROR: 22" (not found), 21 (invalid
    // index), or with 0, "OK" alone.
    int empty_range = 22;
    // The character sets AT+CSCS offers, of "GSM", "IRA", "HEX" and "UCS2": a modem
    // without UCS2, or one whose HEX is missing, offers fewer.
    std::vector<std::string> charsets{"GSM", "IRA", "HEX", "UCS2"};
    // In UCS2, a name the SIM keeps in a UCS2 form comes as the SIM's record
    // ("81...", "80..."), passed through unconverted.
    bool ucs2_records = false;
    // USSD: the coding the network answers in, the form the modem writes the answer
    // in, whether it comes after or before the command's "OK", how long the network
    // takes, and the request form the modem takes (the other gets "ERROR").
    UssdCoding ussd_coding = UssdCoding::Plain;
    UssdForm ussd_form = UssdForm::Text;
    UssdOrder ussd_order = UssdOrder::AfterOk;
    std::chrono::milliseconds ussd_delay{0};
    UssdRequestForm ussd_request = UssdRequestForm::Text;
};

// Message status as AT+CMGL and AT+CMGR number it.
enum class MessageStatus { ReceivedUnread = 0, ReceivedRead = 1, StoredUnsent = 2, StoredSent = 3 };

struct StoredMessage {
    std::string memory = "SM";  // "SM" on the SIM, "ME" in the modem
    int index = 0;              // the slot in its memory, from 1
    MessageStatus status = MessageStatus::ReceivedUnread;
    std::string pdu;  // hexadecimal, SMSC information included
};

// What the modem and its SIM answer when asked who they are; a field left empty
// is derived from the modem's number (DefaultSerials).
struct Serials {
    std::string imei;   // AT+CGSN, AT+GSN: 15 digits, the last the Luhn check digit
    std::string iccid;  // AT+CRSM on EF_ICCID, AT+CCID, the maker's command: 18..20 digits
    std::string imsi;   // AT+CIMI: 6..15 digits
    bool operator==(const Serials&) const = default;
};

// For the modem of `number`, valid and different for every number that differs
// in its last 6 digits: IMEI 35699900 and those 6 digits with the check digit; ICCID
// 8970199 and the last 11 digits with the check digit (19 digits, so that the SIM
// file pads it with an "F"); IMSI 25099 and the last 10 digits.
Serials DefaultSerials(const std::string& number);
// Whether each field has the form its command answers (above).
bool ValidSerials(const Serials& serials);

struct ModemIdentity {
    std::string number;             // "+79990000001"
    std::string service_centre;     // answered to AT+CSCA?
    std::size_t capacity = 20;      // SIM message slots
    bool announce_received = true;  // "+CMTI" after a reset, until AT+CNMI says otherwise
    Serials serials{};              // any field left empty: DefaultSerials(number)
};

using Slots = std::vector<std::optional<StoredMessage>>;

// What one modem keeps whichever of its ports a command comes through: its serials,
// the SIM (messages, phone book, PIN) and the modem's own memories, and what the
// network counts. The sessions of a modem's ports share it; the Modem that owns
// them touches it only under its one lock.
struct SimCard {
    explicit SimCard(ModemIdentity identity_in);

    ModemIdentity identity;  // its serials completed from DefaultSerials
    Slots sm_slots;          // "SM" (not "slots": a macro word of Qt)
    Slots me_slots;          // "ME", the modem's own memory
    Slots sr_slots;          // "SR", status reports, with reports sr
    PhoneBook phone_book;    // "SM" of AT+CPBS; survives everything
    bool pin_locked = false;
    int pin_tries = 3;
    std::chrono::steady_clock::time_point busy_until{};
    std::deque<std::string> held_back;  // arrived while the store was full
    std::uint8_t next_reference = 0;    // "+CMGS: <mr>", one count for every port
    int accepted_sends = 0;             // counted against Faults::send_limit
};

// Bytes for the client, to go out `delay` after the moment they were made.
struct Emission {
    std::chrono::milliseconds delay{0};
    std::string bytes;
};

// What one step of the session asks its owner to do.
struct SessionOutput {
    std::vector<Emission> emissions;  // in order
    std::vector<Submit> submits;      // accepted sends, for the network
};

class Session {
  public:
    explicit Session(ModemIdentity identity);
    // Another port of the modem whose SIM and memories `card` holds: its own echo,
    // error mode, announcements and line, the same store and serials.
    explicit Session(std::shared_ptr<SimCard> card);
    const std::shared_ptr<SimCard>& card() const { return card_; }

    // The state after ATZ: echo on, numeric errors off, PDU mode. The SIM store
    // survives.
    void Reset();
    // Power-on: Reset(), and the SIM asks for its PIN again and is busy for a while
    // when the faults say so.
    void PowerUp();
    // A restart by itself while the line stays up (a power dip, the firmware's
    // watchdog): power-on, with announcements off as after a reset of AT+CNMI, and
    // unless `quiet`, the start-up texts such modems send ("RDY", "+CFUN: 1",
    // "+CPIN: READY", "SMS Ready").
    void Restart(bool quiet, SessionOutput& out);

    void Feed(std::string_view bytes, SessionOutput& out);
    // A message from the network: into the lowest free slot, announced when the
    // client asked for it; held back while the store is full.
    // With direct delivery on, handed over as "+CMT:" when a client has the port
    // open (`client_present`), stored otherwise.
    void Receive(const std::string& deliver_pdu, SessionOutput& out, bool client_present = true);
    // The client closed or opened the port: a hang ends, and deliveries it did not
    // acknowledge are stored, as the network's retry would bring them.
    void ClientChanged();
    void SendUnsolicited(const std::string& line, SessionOutput& out);
    void SendNoise(std::size_t count, SessionOutput& out);

    void SetFaults(const Faults& faults);
    const Faults& faults() const { return faults_; }
    // Every stored message, the SIM's first, then the modem's own memory.
    std::vector<StoredMessage> Messages() const;
    std::size_t held_back() const { return card_->held_back.size(); }
    const PhoneBook& phone_book() const { return card_->phone_book; }
    void SetPhoneBook(PhoneBook book) { card_->phone_book = std::move(book); }
    std::size_t unacknowledged() const { return unacknowledged_.size(); }
    const Serials& serials() const { return card_->identity.serials; }
    // Another modem serial or another SIM, answered from the next command on.
    void SetSerials(Serials serials) { card_->identity.serials = std::move(serials); }
    // Sends accepted since the start or the last reset, as Faults::send_limit counts
    // them; a restart of the modem keeps them, as the operator's count does.
    int accepted_sends() const { return card_->accepted_sends; }
    void ResetSendCount() { card_->accepted_sends = 0; }

  private:
    enum class Kind { Action, Set, Query, Test };
    enum class ErrorFamily { Plain, Equipment, Message };
    struct Reply {
        std::vector<std::string> lines;
        std::optional<std::pair<ErrorFamily, int>> error;
        bool prompt = false;  // AT+CMGS: the PDU follows
    };
    struct Command {
        std::string name;  // upper case, "+CMGL" or "E"
        Kind kind = Kind::Action;
        std::string args;
    };
    using Handler = Reply (Session::*)(const Command&);
    struct HandlerEntry {
        const char* name;
        Handler handler;
    };
    static const HandlerEntry kHandlers[];

    void FeedCommandByte(char byte, SessionOutput& out);
    void FeedPduByte(char byte, SessionOutput& out);
    void ExecuteLine(const std::string& line, SessionOutput& out);
    static Command ParseCommand(const std::string& text);
    Reply Execute(const Command& command);
    void FinishSend(SessionOutput& out);
    void Answer(const std::vector<Reply>& replies, std::chrono::milliseconds delay,
                SessionOutput& out);
    void Emit(std::string text, std::chrono::milliseconds delay, SessionOutput& out);
    void EmitFaultsBeforeAnswer(const std::string& line, SessionOutput& out);
    // Answers a command line with another program's traffic while Faults::foreign
    // lasts; true when it did.
    bool AnsweredByAnother(SessionOutput& out);
    std::string FinalText(const Reply& reply) const;
    struct MemoryPart {
        Slots* cells;
        int offset;  // added to its slot numbers in the memory's listing
    };
    // "SM", "ME", or "MT" (the SIM and the modem's memory as one, the modem's after).
    std::vector<MemoryPart> Parts(const std::string& memory);
    bool Offers(const std::string& memory) const;
    // The slot of a listed index in the memory being read; null when there is none.
    std::optional<StoredMessage>* Slot(int listed_index);
    Slots& NewMessageSlots();
    std::optional<int> StoreFree(const Slots& cells) const;
    // REQUIRES: a free slot; gives the index as the new-message memory counts it.
    int StoreDelivered(Slots& cells, const std::string& pdu);
    bool Announcing() const;
    std::string Announcement(int index) const;
    void StoreNew(const std::string& pdu, SessionOutput& out);
    void HandOver(const std::string& header, const std::string& pdu, SessionOutput& out);
    void ReportDelivery(const Submit& submit, std::uint8_t reference, SessionOutput& out);
    // The TP-ST of the next report, counting down report_status_count.
    std::uint8_t NextReportStatus();
    // How a status report comes: as the reports fault says, but only kept in "SM"
    // while the client has set <ds> of AT+CNMI to 0 (no routing to it).
    ReportMode Reporting() const;
    void Announce(std::string line, SessionOutput& out);
    // Why the SIM cannot serve a command now, as an error; nothing when it can.
    std::optional<std::pair<ErrorFamily, int>> SimRefusal(const Command& c) const;
    void Hang(const std::vector<Reply>& replies, SessionOutput& out);

    Reply Basic(const Command& c);
    Reply Identify(const Command& c);
    Reply ErrorReporting(const Command& c);
    Reply MessageFormat(const Command& c);
    Reply CharacterSet(const Command& c);
    Reply Storage(const Command& c);
    Reply List(const Command& c);
    Reply Read(const Command& c);
    Reply Delete(const Command& c);
    Reply Send(const Command& c);
    Reply ServiceCentre(const Command& c);
    Reply Indications(const Command& c);
    Reply ServiceSelect(const Command& c);
    Reply SignalQuality(const Command& c);
    Reply Registration(const Command& c);
    Reply Pin(const Command& c);
    Reply PinRetries(const Command& c);
    Reply Acknowledge(const Command& c);
    Reply OwnNumber(const Command& c);
    Reply Operator(const Command& c);
    Reply Functionality(const Command& c);
    Reply ActivityStatus(const Command& c);
    Reply PhoneBookStorage(const Command& c);
    Reply PhoneBookRead(const Command& c);
    Reply Ussd(const Command& c);
    Reply SimFile(const Command& c);
    Reply CardId(const Command& c);

    std::shared_ptr<SimCard> card_;  // never null
    Faults faults_;
    std::mt19937 random_;

    // Settings a reset restores.
    bool echo_ = true;
    int error_mode_ = 0;        // AT+CMEE
    int new_message_mode_ = 0;  // <mt> of AT+CNMI: 1 announces with "+CMTI"
    int report_mode_ = -1;      // <ds> of AT+CNMI; -1 until set
    std::string charset_ = "GSM";
    int registration_mode_ = 0;  // AT+CREG

    // The line being typed, or the PDU after a prompt.
    bool in_pdu_ = false;
    std::string line_;
    bool line_overflowed_ = false;
    int announced_length_ = 0;

    std::string read_memory_ = "SM";         // <mem1> of AT+CPMS: listed, read, deleted
    std::string phone_book_storage_ = "ME";  // AT+CPBS: the modem's own, empty book at first
    // When another program stops sharing the port (Faults::foreign); empty until the
    // first command line starts its time.
    std::optional<std::chrono::steady_clock::time_point> foreign_until_;
    bool hung_ = false;                       // answers nothing until the client changes
    std::deque<std::string> unacknowledged_;  // "+CMT:" PDUs awaiting AT+CNMA
    std::vector<std::string> after_answer_;   // unsolicited lines due after the current answer
    std::vector<std::string> inside_answer_;  // announcements due inside the next answer
    UssdService ussd_;
    std::optional<std::string> ussd_result_;    // the network's "+CUSD:", due after the answer
    std::chrono::milliseconds answer_held_{0};  // the answer waits this long for the network
};

}  // namespace velka::modemsim
