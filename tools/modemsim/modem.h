// One simulated GSM modem served on the master side of a pseudo-terminal, the way
// a USB modem serves its serial port. Clients open `device_path`, a symbolic link
// to the slave side that stays the same when the line drops and comes back. A
// modem may have a second port, as USB modems offer a second serial interface: a
// second terminal serving the same modem, with a Session of its own over the same
// SimCard.
//
// Each modem has one thread that sleeps in poll() on its terminals and a wake-up
// descriptor, reads the clients' bytes, feeds them to the port's Session and writes
// the answers when they are due. What the modem sends while no client has the port
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
    std::size_t port = 0;  // 0 the modem's first port, 1 its second
};

// One line per entry: seconds, ">" for bytes to the modem or "<" for bytes from
// it (followed by "2" for the second port), and the bytes with \r, \n and other
// control bytes escaped.
std::string FormatTranscript(const std::vector<TranscriptEntry>& entries);

struct ModemConfig {
    ModemIdentity identity;   // its service centre is the network's when left empty
    std::string device_path;  // the symbolic link to create; must not name anything else
    // Not empty: the modem's second port, a link made here the same way. It has its
    // own echo, error mode, announcement settings and line; unsolicited texts (new
    // messages, restarts, injected lines) come on the first port only, as modems
    // send them on one of their interfaces.
    std::string second_device_path{};
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
    // 1, or 2 with a second port. The count is fixed at construction, so it is
    // read without the lock.
    std::size_t ports() const { return ports_.size(); }
    // The path clients open for `port`; another after RestoreLine was given new ones.
    std::string device_path(std::size_t port = 0) const;

    void SetFaults(const Faults& faults);
    Faults faults() const;
    void SendUnsolicited(const std::string& line);
    void SendNoise(std::size_t count);
    // Restarts by itself with the line up (Session::Restart).
    void Restart(bool quiet);

    // Unplugging: the master side of every port closes (the clients' reads fail)
    // and the links go. Restoring makes new terminals, points the links at them and
    // resets the modem as a power-on would; the SIM store survives both.
    Status DropLine();
    Status RestoreLine();
    // Plugged back in where the system names it anew (another USB port, or the
    // kernel's name still held by the old one): the links are made at
    // `device_paths`, one per port, from then on. Refused, with nothing changed,
    // for a count other than ports() or a path that names anything.
    Status RestoreLine(const std::vector<std::string>& device_paths);
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
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
    };
    // One terminal of the modem and what goes out on it.
    struct Port {
        std::string device_path;
        std::unique_ptr<Session> session;  // never null
        int master = -1;                   // -1 while the line is down
        int watch = -1;                    // the open watch on the slave
        std::deque<Pending> outgoing{};
    };

    Modem(ModemConfig config, Network& network);
    Status OpenLine(Port& port);  // REQUIRES: mutex_ held, the port's line down
    Status OpenLines();           // REQUIRES: mutex_ held, the lines down; all or none
    void CloseLine(Port& port);   // REQUIRES: mutex_ held
    void CloseLines();            // REQUIRES: mutex_ held
    void Serve();
    void ReadInput(std::size_t port, std::vector<Submit>& submits);  // REQUIRES: mutex_ held
    void WriteDue(std::size_t port);                                 // REQUIRES: mutex_ held
    void Enqueue(Port& port, SessionOutput& out);                    // REQUIRES: mutex_ held
    static bool ClientPresent(const Port& port);                     // REQUIRES: mutex_ held
    static bool Drain(int fd);  // reads a non-blocking descriptor empty; true if it held anything
    // Reads the open watch empty: the watches of the slaves that clients opened.
    std::vector<int> OpenedWatches() const;
    void Wake();
    // REQUIRES: mutex_ held
    void Record(std::size_t port, Direction direction, std::string bytes);
    Session& first() { return *ports_.front().session; }  // REQUIRES: mutex_ held
    const Session& first() const { return *ports_.front().session; }

    const ModemConfig config_;
    Network& network_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    int wake_fd_ = -1;     // an eventfd: other threads write to it to end the serving thread's poll
    int open_watch_ = -1;  // an inotify descriptor: readable when a client opens the slave

    mutable std::mutex mutex_;
    std::vector<Port> ports_;  // guarded by mutex_; one or two, made by the constructor
    unsigned generation_ = 0;  // guarded by mutex_; changes with every open and close
    std::vector<TranscriptEntry> transcript_;  // guarded by mutex_
    bool stopping_ = false;                    // guarded by mutex_

    std::thread thread_;  // runs Serve(); joined by the destructor
};

}  // namespace velka::modemsim
