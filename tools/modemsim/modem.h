// One simulated GSM modem served on the master side of a pseudo-terminal, the way
// a USB modem serves its serial port. Clients open `device_path`, a symbolic link
// to the slave side that stays the same when the line drops and comes back.
//
// Each modem has one thread that sleeps in poll() on its terminal and a wake-up
// descriptor, reads the client's bytes, feeds them to its Session and writes the
// answers when they are due. What the modem sends while no client has the port
// open is lost, as with a real port (bytes that reached the terminal before the
// client closed it stay there for the next client: a pseudo-terminal keeps them). A sent message
// has reached the network (and a simulated recipient's store) before its "+CMGS:" confirmation
// leaves. Every public member may be called from any thread.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/result.h"
#include "tools/modemsim/network.h"
#include "tools/modemsim/session.h"

namespace velka::modemsim {

enum class Direction { ToModem, FromModem };

struct TranscriptEntry {
    std::chrono::steady_clock::duration at;  // since the modem started
    Direction direction = Direction::ToModem;
    std::string bytes;
};

// One line per entry: seconds, ">" for bytes to the modem or "<" for bytes from
// it, and the bytes with \r, \n and other control bytes escaped.
std::string FormatTranscript(const std::vector<TranscriptEntry>& entries);

struct ModemConfig {
    ModemIdentity identity;   // its service centre is the network's when left empty
    std::string device_path;  // the symbolic link to create; must not name anything else
    // Called when the line goes down (false) or comes back (true), from the thread
    // that dropped or restored it, with no lock of the modem held.
    std::function<void(bool line_up)> on_line_change;
};

class Modem {
  public:
    // Opens the pseudo-terminal, points device_path at its slave, joins the network
    // and starts serving. Fails with the system's error code when the terminal or
    // the link cannot be made.
    static Result<std::unique_ptr<Modem>> Start(ModemConfig config, Network& network);
    // Leaves the network, stops the thread, closes the terminal and removes the link.
    ~Modem();
    Modem(const Modem&) = delete;
    Modem& operator=(const Modem&) = delete;

    const std::string& number() const { return config_.identity.number; }
    // The path clients open; another after RestoreLine was given a new one.
    std::string device_path() const;

    void SetFaults(const Faults& faults);
    Faults faults() const;
    void SendUnsolicited(const std::string& line);
    void SendNoise(std::size_t count);
    // Restarts by itself with the line up (Session::Restart).
    void Restart(bool quiet);

    // Unplugging: the master side closes (the client's reads fail) and the link
    // goes. Restoring makes a new terminal, points the link at it and resets the
    // modem as a power-on would; the SIM store survives both.
    Status DropLine();
    Status RestoreLine();
    // Plugged back in where the system names it anew (another USB port, or the
    // kernel's name still held by the old one): the link is made at `device_path`
    // from then on. Refused, with nothing changed, when the path names anything.
    Status RestoreLine(const std::string& device_path);
    bool line_up() const;

    // The modem's serials and its SIM's (Session::SetSerials), and the sends its
    // operator counts against Faults::send_limit.
    Serials serials() const;
    void SetSerials(const Serials& serials);
    int accepted_sends() const;
    void ResetSendCount();

    // A message from the network (hexadecimal SMS-DELIVER, SMSC part included).
    void Receive(const std::string& deliver_pdu);
    std::vector<StoredMessage> Messages() const;
    // The SIM's phone book, and a new one in its place.
    PhoneBook phone_book() const;
    void SetPhoneBook(PhoneBook book);
    std::size_t held_back() const;
    // Direct deliveries handed over and not yet acknowledged with AT+CNMA.
    std::size_t unacknowledged() const;
    std::vector<TranscriptEntry> Transcript() const;

  private:
    Modem(ModemConfig config, Network& network);
    Status OpenLine();  // REQUIRES: mutex_ held, the line down
    void CloseLine();   // REQUIRES: mutex_ held
    void Serve();
    void ReadInput(std::vector<Submit>& submits);  // REQUIRES: mutex_ held
    void WriteDue();                               // REQUIRES: mutex_ held
    void Enqueue(SessionOutput& out);              // REQUIRES: mutex_ held
    bool ClientPresent() const;                    // REQUIRES: mutex_ held
    static bool Drain(int fd);  // reads a non-blocking descriptor empty; true if it held anything
    void Wake();
    void Record(Direction direction, std::string bytes);  // REQUIRES: mutex_ held

    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
    };

    const ModemConfig config_;
    Network& network_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    int wake_fd_ = -1;     // an eventfd: other threads write to it to end the serving thread's poll
    int open_watch_ = -1;  // an inotify descriptor: readable when a client opens the slave

    mutable std::mutex mutex_;
    Session session_;               // guarded by mutex_
    std::string device_path_;       // guarded by mutex_; config_.device_path until moved
    int master_ = -1;               // guarded by mutex_; -1 while the line is down
    int watch_ = -1;                // guarded by mutex_; the open watch on the slave
    unsigned generation_ = 0;       // guarded by mutex_; changes with every open and close
    std::deque<Pending> outgoing_;  // guarded by mutex_
    std::vector<TranscriptEntry> transcript_;  // guarded by mutex_
    bool stopping_ = false;                    // guarded by mutex_

    std::thread thread_;  // runs Serve(); joined by the destructor
};

}  // namespace velka::modemsim
