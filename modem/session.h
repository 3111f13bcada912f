// modem/: the conversation with one GSM modem through the serial port component.
//
// This header is its face: a Session owns the port it talks through, the stop
// signal it listens to and everything it learns of the modem (the SIM's state and
// PIN, what the modem is, whether it announces arrivals and in which memories it
// keeps messages, what it handed over directly, whether it went silent). The
// worker, the one-shot calls of the application core and the tools reach the modem
// through it alone; the AT dialogue behind it (modem/dialogue.h and the files
// beside it) is the module's own.
//
// Threads: one thread drives a session at a time (the worker's, or a front end's
// before the worker starts and after it ended). Probe is for any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modem/phone_book.h"
#include "platform/device_access.h"
#include "platform/result.h"
#include "platform/stop_signal.h"
#include "sms/text_plan.h"
#include "store/content_file.h"
#include "store/packet.h"
#include "store/reports_file.h"

namespace velka {
class Registry;
}

namespace velka::modem {

using Clock = std::chrono::steady_clock;
// How a long text is cut (sms/text_plan.h), named here for the session's users.
using velka::SegmentRoom;

// How many messages sending the record's text (or `whole`, its text as typed) puts
// on the network, cut as `room` says: for the limits that count messages before a
// record goes.
std::size_t MessageCountOf(const packet& record, SegmentRoom room, std::u16string_view whole = {});

// How far a modem has let the client go.
enum class ModemState {
    Unknown,       // not asked yet
    Ready,         // the SIM is ready for messages
    NotAnswering,  // the modem said nothing within its bounds, several times in a row
    PortMissing,   // the port could not be opened: the device is unplugged or gone
    PortDenied,    // the device is there but its permissions keep this user out
    PinNeeded,     // the SIM asks for its PIN and none was given
    PinRefused,    // the PIN given was wrong; it is not sent again by itself
    PukNeeded,     // the SIM is blocked behind its PUK
    PhoneLocked,   // the modem is locked to another SIM ("PH-SIM PIN")
    NoSim,         // no SIM in the modem ("+CME ERROR: 10")
    SimFailure,    // the SIM does not work ("+CME ERROR: 13")
};

struct ModemStatus {
    // So that a state alone, or with its tries, reads as it always did: {PinNeeded, 3}.
    ModemStatus() = default;
    ModemStatus(ModemState state_in, int tries = -1,  // NOLINT(google-explicit-constructor)
                std::optional<DeviceDenial> denial_in = std::nullopt)
        : state(state_in), tries_left(tries), denial(std::move(denial_in)) {}

    ModemState state = ModemState::Unknown;
    int tries_left = -1;  // PIN tries the modem says are left; -1 when it does not say
    std::optional<DeviceDenial> denial;  // PortDenied: the device, its group and the user
    bool operator==(const ModemStatus&) const = default;
};

// What the modem says it is; a field the modem refused stays empty.
struct ModemInfo {
    std::string manufacturer;   // AT+CGMI
    std::string model;          // AT+CGMM
    std::string operator_name;  // AT+COPS?
    int signal = -1;            // AT+CSQ: 0..31, 99 unknown, -1 not asked or refused
    bool operator==(const ModemInfo&) const = default;
};

// What tells this modem and its SIM apart from any other, whatever port they are
// plugged into (modem/device_identity.h says how each is read). A field the modem
// did not give stays empty; the SIM's fields are empty until the SIM is ready.
struct DeviceIdentity {
    std::string imei;   // the modem: 15 digits
    std::string iccid;  // the SIM card's serial number: 18 to 20 digits, "89..."
    std::string imsi;   // the subscription on the SIM: 6 to 15 digits
    bool operator==(const DeviceIdentity&) const = default;
};

// Whether each SMS-SUBMIT asks the network for a status report (TP-SRR). Off, the
// PDUs are exactly those of a client that never asks.
enum class DeliveryReports { Off, Requested };

enum class SendResult {
    Sent,        // every message of the text was confirmed by "+CMGS:"
    Failed,      // a message was refused or not confirmed; worth trying again later
    Unsendable,  // no PDU can be built (an empty or invalid number): nothing was written
};

// What the modem said when it took a message: "+CMGS: <mr>".
struct Confirmation {
    int reference = -1;  // TP-MR the network will name in a status report; -1 when unreadable
};

// How far the messages of one record have gone: the concatenation reference its
// segments share (two hexadecimal digits; empty for a text of one message), how
// many of its messages the modem confirmed and how many it has. Kept by whoever
// queues the record, so that a text cut short goes on with its next segment under
// the same reference, after a restart too.
struct SendPosition {
    std::string reference;
    std::size_t confirmed = 0;
    std::size_t segments = 0;
    // How the text is cut into segments: the room the setting gives for a text
    // none of whose messages went yet, and for one cut short the room it began
    // with, so that its remaining segments join the ones the recipient has.
    SegmentRoom room = SegmentRoom::Designed;
};

// Called after each message the modem confirmed, `position` already counting it,
// before the next message goes: the moment to note it durably.
using OnConfirmed =
    std::function<void(const SendPosition& position, const Confirmation& confirmed)>;

// How the session learns of arrivals.
enum class Reception {
    Polled,      // the modem announces nothing: its memories are listed every few seconds
    Announced,   // the modem announces arrivals; a poll every minute catches a lost one
    Distrusted,  // the modem took AT+CNMI, yet a poll found messages it never
                 // announced: polled as if it announced nothing, until it announces again
};

// What a reception cycle or a store of direct deliveries did.
struct ReceptionReport {
    bool listed = false;                        // the listing came to its "OK"
    std::vector<store::ReceivedRecord> stored;  // records appended to the inbox, in listing order
    std::vector<store::StatusReport> reports;   // status reports kept beside it
    std::size_t deleted = 0;                    // deletes the modem confirmed
    Status saved;             // the appends; what a failed one should have held stays on the modem
    std::size_t unsaved = 0;  // listed messages the sink refused; they stay on the modem
};

// Where a reception keeps what the modem holds, before the session deletes it there.
class ReceptionSink {
  public:
    struct Kept {
        Status status;                              // the first write that failed, if any
        std::vector<bool> on_disk;                  // by PDU: kept now or by an earlier cycle
        std::vector<store::ReceivedRecord> stored;  // the records appended now
        std::vector<store::StatusReport> reports;   // the status reports appended now
    };
    virtual ~ReceptionSink() = default;
    // Keeps each PDU (upper-case hexadecimal, SMSC part included) that it does not
    // hold already, durably, and says which of them it holds now. Only those are
    // deleted on the modem.
    virtual Kept Keep(const std::vector<std::string>& pdus) = 0;
};

// How a USSD request ended.
enum class UssdStatus {
    Done,            // the network answered and the session is over ("+CUSD: 0")
    Question,        // the network answered and waits for a reply ("+CUSD: 1")
    Ended,           // the network ended the session ("+CUSD: 2")
    OtherClient,     // another client on the modem took the answer ("+CUSD: 3")
    NotSupported,    // the network or the modem does not serve it ("+CUSD: 4")
    NetworkTimeout,  // the network gave up ("+CUSD: 5")
    NoAnswer,        // nothing came within the wait: the session was ended on the network
    Refused,         // the modem refused the command: its answer is in `refusal`
    Unreadable,      // the answer came in a form or coding that cannot be read
    BadRequest,      // empty, or a character the 7-bit alphabet lacks
    NoModem,         // the modem is not ready: the session's Status() says why
    Stopped,         // the stop signal ended the wait
};

struct UssdAnswer {
    // So that a status alone reads as one: {UssdStatus::NoAnswer}.
    UssdAnswer() = default;
    UssdAnswer(UssdStatus status_in,
               std::u16string text_in = {},  // NOLINT(google-explicit-constructor)
               std::string raw_in = {}, std::string refusal_in = {})
        : status(status_in),
          text(std::move(text_in)),
          raw(std::move(raw_in)),
          refusal(std::move(refusal_in)) {}

    UssdStatus status = UssdStatus::NoAnswer;
    std::u16string text;  // the network's words, decoded; line breaks as "\n"
    std::string raw;      // <str> as the modem wrote it
    std::string refusal;  // Refused: the modem's answer ("+CME ERROR: 30")
};

// How long a USSD request waits for the network: networks take 10 to 30 s.
inline constexpr auto kUssdWait = std::chrono::seconds(30);

class Session {
  public:
    // A session with no port yet, ended by `stop`; `registry` keeps the
    // concatenation reference of long texts. Both outlive the session.
    Session(const StopSignal& stop, Registry& registry);
    // Closes the port.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The serial port to talk through, by number (COM3: 3; 0: none). Closes a port
    // opened under another number.
    void Bind(std::uint16_t port_number);
    std::uint16_t PortNumber() const;

    // The PIN the user gave, sent once at the next opening that finds the SIM
    // asking for it; a refused PIN is forgotten, never sent again by itself.
    void GivePin(std::string pin);

    // The initialisation: opens the port when it is closed, then "AT" twice,
    // "ATE0", "AT+CMEE=1" and "AT+CMGF=0", and "AT+CPIN?" for the SIM's state.
    // True when the modem answered and the SIM is ready. At each opening the
    // modem's identity, IMEI and operator are read (the SIM's ICCID and IMSI once
    // the SIM is ready), the signal at most every 30 s, and
    // the modem is asked once to announce what arrives. False at once with no port.
    // A port that cannot be opened, or whose device has failed or gone silent, is
    // closed so that the next opening starts afresh. A port that cannot be opened
    // because its device's permissions keep the user out is PortDenied, with the
    // device and its group in the status; one that is not there, PortMissing.
    [[nodiscard]] bool Open();
    ModemStatus Status() const;
    ModemInfo Info() const;
    // The modem's IMEI, read at each opening, and its SIM's ICCID and IMSI, read
    // at the first initialisation of an opening that finds the SIM ready. Empty
    // before the first opening; a modem plugged in again under another port
    // name gives the same, which is how a pool recognises it.
    DeviceIdentity Identity() const;
    // Whether the modem took AT+CNMI at this opening and announces arrivals.
    bool Announces() const;
    // Whether arrivals are announced, and announcements are trusted.
    modem::Reception ReceptionMode() const;
    // Whether the port is open now.
    bool PortOpen() const;

    // Sends `record`'s text to its number from its message `position.confirmed`
    // on: the signature before the text, GSM 7-bit or UCS2, a long text split into
    // numbered segments. A text none of whose messages was confirmed gets a new
    // reference first. Stops at the first message that fails and writes nothing
    // after it; `confirmed` is called after each message the modem took. `whole`,
    // when set, is sent instead of the record's text: the text as the user typed
    // it, with the characters Windows-1251 lacks.
    SendResult Send(const packet& record, SendPosition& position, DeliveryReports reports,
                    const OnConfirmed& confirmed, std::u16string_view whole = {});
    // A USSD request ("*100#") or the reply to the network's question: opens the
    // modem when its port is closed (NoModem unless its SIM is ready), sends it in the form the
    // modem takes and waits up to `limit` for the network's answer; a network that stays silent has
    // its session ended. Blocks until then or the stop signal.
    UssdAnswer Ussd(std::u16string_view request, Clock::duration limit = kUssdWait);
    // Ends the USSD session on the network ("AT+CUSD=2"); true when the modem took it.
    bool EndUssd();

    // The modem's error answer to the last send that failed ("+CMS ERROR: 500"), as
    // it came; empty when that send failed for silence.
    const std::string& Refusal() const;

    // One reception cycle: what the modem handed over directly, then every memory
    // that holds received messages ("SM", then "ME" or "MT" where offered), again
    // while a round deleted something or an arrival was announced meanwhile (a full
    // SIM refills as it is emptied; at most 8 rounds), then what was handed over
    // meanwhile. Each message goes to `sink` first and is deleted on the modem only
    // once the sink holds it; one the sink already holds (listed again after a
    // kill) is only deleted. A memory whose listing fails ends the cycle there; the
    // stop signal ends the deletes.
    ReceptionReport Receive(ReceptionSink& sink);
    // Only what the modem handed over directly ("+CMT:", "+CDS:"): kept by the
    // sink, then acknowledged with "AT+CNMA". What the sink refuses waits, unacknowledged.
    ReceptionReport KeepDelivered(ReceptionSink& sink);

    // While the modem announces: sleeps on the port until it announces something
    // or hands something over, `wake` or the stop signal is set, or `deadline`
    // passes. Costs nothing while it sleeps.
    void Listen(const StopSignal& wake, Clock::time_point deadline);
    // Whether the modem announced an arrival since the last reception cycle began.
    bool Announced() const;
    // Whether something since the last Settle wants the worker's attention: an
    // announcement, a delivery waiting to be kept, a restart, a silence or a port
    // that closed.
    bool Heard() const;

    // Every entry of the SIM's phone book ("SM"), after an initialisation as Open's.
    // Names are read in the best character set the modem offers (modem/phone_book_text.h);
    // the character set and the phone book the modem had chosen are chosen again
    // afterwards, unless it fell silent. Blocks for as many bounded
    // commands as the book takes; the stop signal ends it.
    Result<std::vector<PhoneBookEntry>, PhoneBookError> ReadPhoneBook();

    // AT+CSQ when 30 s have passed since the last reading; nothing otherwise.
    void ReadSignalWhenDue();
    // When the signal is next due to be read.
    Clock::time_point NextSignalReading() const;

    // What the modem did since the last Settle. Restarted: it started again by itself
    // (a start-up text such as "RDY", or its echo came back) and forgot what it was
    // told.
    enum class Conduct { Answered, Silent, Restarted, Nothing };
    // Ends a piece of modem work: a modem that restarted or went silent has its port
    // closed, so that the next opening initialises it afresh and asks again for
    // announcements.
    Conduct Settle();
    // Closes the port; the next opening opens it afresh. Never throws.
    void Close();

    // How long a listing, of messages or of the phone book, may stay quiet before it
    // counts as lost (30 s).
    void SetListingIdleLimit(Clock::duration limit);

    // Whether the port `number` answers "AT" with "OK" within `bound`, and then what
    // the modem says it is (a refused answer left empty); nothing when it does not
    // answer or cannot be opened. Opens the port and closes it again: never for a
    // port a session holds.
    static std::optional<ModemInfo> Probe(std::uint16_t number, std::chrono::milliseconds bound,
                                          const StopSignal& stop);
    // The IMEI of the modem on port `number`, asked as Probe asks (AT, ATE0, then
    // AT+CGSN or AT+GSN) and nothing more, so that no setting of the modem changes:
    // empty when it tells none; nothing when it does not answer or the port cannot
    // be opened. Never for a port a session holds.
    static std::optional<std::string> ProbeImei(std::uint16_t number,
                                                std::chrono::milliseconds bound,
                                                const StopSignal& stop);

  private:
    void JudgeAnnouncements(bool heard, std::size_t listed_new);

    struct Line;
    std::unique_ptr<Line> line_;
};

}  // namespace velka::modem
