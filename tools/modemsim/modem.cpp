#include "tools/modemsim/modem.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velka::modemsim {
namespace {

Error SystemError(const std::string& what) {
    const int code = errno;
    return Error{what + ": " + std::strerror(code), code};
}

// Points `link` at `target` in one step, so that a client never finds it missing
// or half made while it is re-pointed.
Status Relink(const std::string& link, const std::string& target) {
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
        return SystemError("cannot create the link " + temporary);
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        Error error = SystemError("cannot move the link to " + link);
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string FormatTranscript(const std::vector<TranscriptEntry>& entries) {
    std::string out;
    for (const TranscriptEntry& e : entries) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%10.3f %c ",
                      std::chrono::duration<double>(e.at).count(),
                      e.direction == Direction::ToModem ? '>' : '<');
        out += stamp + Escaped(e.bytes) + "\n";
    }
    return out;
}

Modem::Modem(ModemConfig config, Network& network)
    : config_(std::move(config)),
      network_(network),
      session_(config_.identity),
      device_path_(config_.device_path) {}

Result<std::unique_ptr<Modem>> Modem::Start(ModemConfig config, Network& network) {
    if (config.identity.service_centre.empty())
        config.identity.service_centre = network.service_centre();
    std::unique_ptr<Modem> modem(new Modem(std::move(config), network));
    modem->wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (modem->wake_fd_ < 0) return SystemError("cannot create an event descriptor");
    modem->open_watch_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (modem->open_watch_ < 0) return SystemError("cannot watch for clients");
    {
        std::lock_guard lock(modem->mutex_);
        if (Status opened = modem->OpenLine(); !opened) return opened.error();
    }
    modem->thread_ = std::thread(&Modem::Serve, modem.get());
    network.Attach(*modem);
    return modem;
}

Modem::~Modem() {
    network_.Detach(*this);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    CloseLine();
    if (wake_fd_ >= 0) ::close(wake_fd_);
    if (open_watch_ >= 0) ::close(open_watch_);
}

Status Modem::OpenLine() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return SystemError("cannot open a pseudo-terminal");
    char slave_name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slave_name, sizeof slave_name) != 0) {
        Error error = SystemError("cannot unlock the pseudo-terminal");
        ::close(master);
        return error;
    }
    // The line starts raw at 115200 baud, so that nothing is echoed or translated
    // by the terminal before a client sets its own mode.
    const int slave = ::open(slave_name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || ::tcgetattr(slave, &mode) != 0) {
        Error error = SystemError(std::string("cannot open ") + slave_name);
        if (slave >= 0) ::close(slave);
        ::close(master);
        return error;
    }
    ::cfmakeraw(&mode);
    ::cfsetspeed(&mode, B115200);
    ::tcsetattr(slave, TCSANOW, &mode);
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Watched before the link exists, so that no client can open it unseen.
    const int watch = ::inotify_add_watch(open_watch_, slave_name, IN_OPEN);
    if (watch < 0) {
        Error error = SystemError(std::string("cannot watch ") + slave_name);
        ::close(master);
        return error;
    }
    if (Status linked = Relink(device_path_, slave_name); !linked) {
        ::inotify_rm_watch(open_watch_, watch);
        ::close(master);
        return linked;
    }
    master_ = master;
    watch_ = watch;
    ++generation_;
    return {};
}

bool Modem::ClientPresent() const {
    if (master_ < 0) return false;
    pollfd state{master_, 0, 0};
    return ::poll(&state, 1, 0) >= 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void Modem::CloseLine() {
    if (master_ < 0) return;
    ::inotify_rm_watch(open_watch_, watch_);
    ::close(master_);
    master_ = watch_ = -1;
    ++generation_;
    outgoing_.clear();
    ::unlink(device_path_.c_str());
}

Status Modem::DropLine() {
    {
        std::lock_guard lock(mutex_);
        if (master_ < 0) return Error{"the line of " + number() + " is already down", 0};
        CloseLine();
        session_.PowerUp();
    }
    Wake();
    if (config_.on_line_change) config_.on_line_change(false);
    return {};
}

Status Modem::RestoreLine() {
    {
        std::lock_guard lock(mutex_);
        if (master_ >= 0) return Error{"the line of " + number() + " is up", 0};
        if (Status opened = OpenLine(); !opened) return opened;
        session_.PowerUp();
    }
    Wake();
    if (config_.on_line_change) config_.on_line_change(true);
    return {};
}

Status Modem::RestoreLine(const std::string& device_path) {
    {
        std::lock_guard lock(mutex_);
        if (master_ >= 0) return Error{"the line of " + number() + " is up", 0};
        struct stat existing {};
        if (::lstat(device_path.c_str(), &existing) == 0)
            return Error{device_path + " names something already", EEXIST};
        device_path_ = device_path;
    }
    return RestoreLine();
}

std::string Modem::device_path() const {
    std::lock_guard lock(mutex_);
    return device_path_;
}

Serials Modem::serials() const {
    std::lock_guard lock(mutex_);
    return session_.serials();
}

void Modem::SetSerials(const Serials& serials) {
    std::lock_guard lock(mutex_);
    session_.SetSerials(serials);
}

int Modem::accepted_sends() const {
    std::lock_guard lock(mutex_);
    return session_.accepted_sends();
}

void Modem::ResetSendCount() {
    std::lock_guard lock(mutex_);
    session_.ResetSendCount();
}

bool Modem::line_up() const {
    std::lock_guard lock(mutex_);
    return master_ >= 0;
}

bool Modem::Drain(int fd) {
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (::read(fd, buffer, sizeof buffer) > 0) any = true;
    return any;
}

void Modem::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
}

void Modem::Record(Direction direction, std::string bytes) {
    transcript_.push_back(
        TranscriptEntry{std::chrono::steady_clock::now() - started_, direction, std::move(bytes)});
}

void Modem::Enqueue(SessionOutput& out) {
    // Unplugged, or no client has the port open: a USB modem's driver drops what
    // arrives for a closed port, and so nothing waits here for the next client.
    if (!ClientPresent()) return;
    const auto now = std::chrono::steady_clock::now();
    for (Emission& e : out.emissions) {
        // Answers leave in the order they were made, a delayed one holding back the rest.
        auto due = now + e.delay;
        if (!outgoing_.empty() && outgoing_.back().due > due) due = outgoing_.back().due;
        outgoing_.push_back(Pending{due, std::move(e.bytes)});
    }
    out.emissions.clear();
}

void Modem::ReadInput(std::vector<Submit>& submits) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return;  // EAGAIN: all read; nothing else is expected while we hold the slave
        std::string bytes(buffer, static_cast<std::size_t>(n));
        Record(Direction::ToModem, bytes);
        SessionOutput out;
        session_.Feed(bytes, out);
        Enqueue(out);
        for (Submit& s : out.submits) submits.push_back(std::move(s));
    }
}

void Modem::WriteDue() {
    const auto now = std::chrono::steady_clock::now();
    while (master_ >= 0 && !outgoing_.empty() && outgoing_.front().due <= now) {
        std::string& bytes = outgoing_.front().bytes;
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n <= 0) return;  // the client's input is full: poll() says when it drains
        Record(Direction::FromModem, bytes.substr(0, static_cast<std::size_t>(n)));
        bytes.erase(0, static_cast<std::size_t>(n));
        if (bytes.empty()) outgoing_.pop_front();
    }
}

void Modem::Serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const unsigned generation = generation_;
        // Without a client the master reports a hang-up for as long as it lasts, so
        // it is watched only while a client has the port open; the open watch says
        // when the next one comes.
        const bool present = ClientPresent();
        if (!present) outgoing_.clear();
        pollfd fds[3] = {{wake_fd_, POLLIN, 0}, {open_watch_, POLLIN, 0}, {master_, POLLIN, 0}};
        int timeout = -1;
        if (present && !outgoing_.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                outgoing_.front().due - std::chrono::steady_clock::now());
            if (wait.count() > 0) {
                timeout = static_cast<int>(wait.count());
            } else {
                fds[2].events |= POLLOUT;  // due but not yet taken by the terminal
            }
        }
        lock.unlock();
        ::poll(fds, present ? 3 : 2, timeout);
        Drain(wake_fd_);
        const bool opened = Drain(open_watch_);
        lock.lock();
        if (generation != generation_ || master_ < 0) continue;
        if (opened || (present && (fds[2].revents & POLLHUP) != 0)) session_.ClientChanged();
        std::vector<Submit> submits;
        if (present && (fds[2].revents & POLLIN) != 0) ReadInput(submits);
        if (!submits.empty()) {
            // Routed before the confirmation goes out, so that a client which has
            // read "+CMGS:" finds the message arrived. Routing takes the network's
            // lock and then a recipient's, which may be this modem's own: never with
            // this one held.
            lock.unlock();
            for (const Submit& submit : submits) network_.Route(number(), submit);
            lock.lock();
        }
        WriteDue();
    }
}

void Modem::SetFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    session_.SetFaults(faults);
}

Faults Modem::faults() const {
    std::lock_guard lock(mutex_);
    return session_.faults();
}

void Modem::SendUnsolicited(const std::string& line) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        session_.SendUnsolicited(line, out);
        Enqueue(out);
    }
    Wake();
}

void Modem::Restart(bool quiet) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        session_.Restart(quiet, out);
        Enqueue(out);
    }
    Wake();
}

void Modem::SendNoise(std::size_t count) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        session_.SendNoise(count, out);
        Enqueue(out);
    }
    Wake();
}

void Modem::Receive(const std::string& deliver_pdu) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        session_.Receive(deliver_pdu, out, ClientPresent());
        Enqueue(out);
    }
    Wake();
}

std::vector<StoredMessage> Modem::Messages() const {
    std::lock_guard lock(mutex_);
    return session_.Messages();
}

PhoneBook Modem::phone_book() const {
    std::lock_guard lock(mutex_);
    return session_.phone_book();
}

void Modem::SetPhoneBook(PhoneBook book) {
    std::lock_guard lock(mutex_);
    session_.SetPhoneBook(std::move(book));
}

std::size_t Modem::unacknowledged() const {
    std::lock_guard lock(mutex_);
    return session_.unacknowledged();
}

std::size_t Modem::held_back() const {
    std::lock_guard lock(mutex_);
    return session_.held_back();
}

std::vector<TranscriptEntry> Modem::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}

}  // namespace velka::modemsim
