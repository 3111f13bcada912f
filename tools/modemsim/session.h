// The AT command interpreter of one simulated modem: bytes from the client in,
// timed bytes to the client out. It keeps the modem's settings, its SIM message
// store and its faults, and knows nothing of terminals or threads: the Modem that
// owns it feeds it under its lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modemsim/pdu.h"

namespace velka::modemsim {

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
};

// Message status as AT+CMGL and AT+CMGR number it.
enum class MessageStatus { ReceivedUnread = 0, ReceivedRead = 1, StoredUnsent = 2, StoredSent = 3 };

struct StoredMessage {
    int index = 0;  // the SIM slot, from 1
    MessageStatus status = MessageStatus::ReceivedUnread;
    std::string pdu;  // hexadecimal, SMSC information included
};

struct ModemIdentity {
    std::string number;             // "+79990000001"
    std::string service_centre;     // answered to AT+CSCA?
    std::size_t capacity = 20;      // SIM message slots
    bool announce_received = true;  // "+CMTI" after a reset, until AT+CNMI says otherwise
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

    // The state after power-on or ATZ: echo on, numeric errors off, PDU mode.
    // The SIM store survives.
    void Reset();

    void Feed(std::string_view bytes, SessionOutput& out);
    // A message from the network: into the lowest free slot, announced when the
    // client asked for it; held back while the store is full.
    void Receive(const std::string& deliver_pdu, SessionOutput& out);
    void SendUnsolicited(const std::string& line, SessionOutput& out);
    void SendNoise(std::size_t count, SessionOutput& out);

    void SetFaults(const Faults& faults);
    const Faults& faults() const { return faults_; }
    std::vector<StoredMessage> Messages() const;
    std::size_t held_back() const { return held_back_.size(); }

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
    std::string FinalText(const Reply& reply) const;
    std::optional<int> StoreFree() const;
    int StoreDelivered(const std::string& pdu);  // REQUIRES: a free slot; gives its index
    bool Announcing() const;
    static std::string Announcement(int index);

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
    Reply OwnNumber(const Command& c);
    Reply Operator(const Command& c);
    Reply Functionality(const Command& c);
    Reply ActivityStatus(const Command& c);

    ModemIdentity identity_;
    Faults faults_;
    std::mt19937 random_;

    // Settings a reset restores.
    bool echo_ = true;
    int error_mode_ = 0;        // AT+CMEE
    int new_message_mode_ = 0;  // <mt> of AT+CNMI: 1 announces with "+CMTI"
    std::string charset_ = "GSM";
    int registration_mode_ = 0;  // AT+CREG

    // The line being typed, or the PDU after a prompt.
    bool in_pdu_ = false;
    std::string line_;
    bool line_overflowed_ = false;
    int announced_length_ = 0;
    std::uint8_t next_reference_ = 0;  // "+CMGS: <mr>"

    std::vector<std::optional<StoredMessage>> slots_;
    std::deque<std::string> held_back_;      // arrived while the store was full
    std::vector<std::string> after_answer_;  // unsolicited lines due after the current answer
};

}  // namespace velka::modemsim
