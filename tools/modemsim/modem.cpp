#include "tools/modemsim/modem.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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
        std::snprintf(stamp, sizeof stamp, "%10.3f %c%s ",
                      std::chrono::duration<double>(e.at).count(),
                      e.direction == Direction::ToModem ? '>' : '<', e.port > 0 ? "2" : "");
        out += stamp + Escaped(e.bytes) + "\n";
    }
    return out;
}

Modem::Modem(ModemConfig config, Network& network) : config_(std::move(config)), network_(network) {
    ports_.push_back(Port{config_.device_path, std::make_unique<Session>(config_.identity)});
    if (!config_.second_device_path.empty())
        ports_.push_back(Port{config_.second_device_path,
                              std::make_unique<Session>(ports_.front().session->card())});
}

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
        if (Status opened = modem->OpenLines(); !opened) return opened.error();
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
    CloseLines();
    if (wake_fd_ >= 0) ::close(wake_fd_);
    if (open_watch_ >= 0) ::close(open_watch_);
}

Status Modem::OpenLine(Port& port) {
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
    if (Status linked = Relink(port.device_path, slave_name); !linked) {
        ::inotify_rm_watch(open_watch_, watch);
        ::close(master);
        return linked;
    }
    port.master = master;
    port.watch = watch;
    ++generation_;
    return {};
}

Status Modem::OpenLines() {
    for (Port& port : ports_) {
        if (Status opened = OpenLine(port); !opened) {
            CloseLines();  // a modem is plugged in whole or not at all
            return opened;
        }
    }
    return {};
}

bool Modem::ClientPresent(const Port& port) {
    if (port.master < 0) return false;
    pollfd state{port.master, 0, 0};
    return ::poll(&state, 1, 0) >= 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void Modem::CloseLine(Port& port) {
    if (port.master < 0) return;
    ::inotify_rm_watch(open_watch_, port.watch);
    ::close(port.master);
    port.master = port.watch = -1;
    ++generation_;
    port.outgoing.clear();
    ::unlink(port.device_path.c_str());
}

void Modem::CloseLines() {
    for (Port& port : ports_) CloseLine(port);
}

Status Modem::DropLine() {
    {
        std::lock_guard lock(mutex_);
        if (ports_.front().master < 0)
            return Error{"the line of " + number() + " is already down", 0};
        CloseLines();
        for (Port& port : ports_) port.session->PowerUp();
    }
    Wake();
    if (config_.on_line_change) config_.on_line_change(false);
    return {};
}

Status Modem::RestoreLine() {
    {
        std::lock_guard lock(mutex_);
        if (ports_.front().master >= 0) return Error{"the line of " + number() + " is up", 0};
        if (Status opened = OpenLines(); !opened) return opened;
        for (Port& port : ports_) port.session->PowerUp();
    }
    Wake();
    if (config_.on_line_change) config_.on_line_change(true);
    return {};
}

Status Modem::RestoreLine(const std::vector<std::string>& device_paths) {
    {
        std::lock_guard lock(mutex_);
        if (ports_.front().master >= 0) return Error{"the line of " + number() + " is up", 0};
        if (device_paths.size() != ports_.size())
            return Error{
                "the modem " + number() + " has " + std::to_string(ports_.size()) + " ports", 0};
        for (const std::string& path : device_paths) {
            struct stat existing {};
            if (::lstat(path.c_str(), &existing) == 0)
                return Error{path + " names something already", EEXIST};
        }
        for (std::size_t i = 0; i < ports_.size(); ++i) ports_[i].device_path = device_paths[i];
    }
    return RestoreLine();
}

std::string Modem::device_path(std::size_t port) const {
    std::lock_guard lock(mutex_);
    return ports_.at(port).device_path;
}

Serials Modem::serials() const {
    std::lock_guard lock(mutex_);
    return first().serials();
}

void Modem::SetSerials(const Serials& serials) {
    std::lock_guard lock(mutex_);
    first().SetSerials(serials);
}

int Modem::accepted_sends() const {
    std::lock_guard lock(mutex_);
    return first().accepted_sends();
}

void Modem::ResetSendCount() {
    std::lock_guard lock(mutex_);
    first().ResetSendCount();
}

bool Modem::line_up() const {
    std::lock_guard lock(mutex_);
    return ports_.front().master >= 0;
}

bool Modem::Drain(int fd) {
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (::read(fd, buffer, sizeof buffer) > 0) any = true;
    return any;
}

std::vector<int> Modem::OpenedWatches() const {
    alignas(inotify_event) char buffer[4096];
    std::vector<int> watches;
    for (ssize_t n = 0; (n = ::read(open_watch_, buffer, sizeof buffer)) > 0;) {
        for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            watches.push_back(event.wd);
            at += sizeof event + event.len;
        }
    }
    return watches;
}

void Modem::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
}

void Modem::Record(std::size_t port, Direction direction, std::string bytes) {
    transcript_.push_back(TranscriptEntry{std::chrono::steady_clock::now() - started_, direction,
                                          std::move(bytes), port});
}

void Modem::Enqueue(Port& port, SessionOutput& out) {
    // Unplugged, or no client has the port open: a USB modem's driver drops what
    // arrives for a closed port, and so nothing waits here for the next client.
    if (!ClientPresent(port)) return;
    const auto now = std::chrono::steady_clock::now();
    for (Emission& e : out.emissions) {
        // Answers leave in the order they were made, a delayed one holding back the rest.
        auto due = now + e.delay;
        if (!port.outgoing.empty() && port.outgoing.back().due > due)
            due = port.outgoing.back().due;
        port.outgoing.push_back(Pending{due, std::move(e.bytes)});
    }
    out.emissions.clear();
}

void Modem::ReadInput(std::size_t index, std::vector<Submit>& submits) {
    Port& port = ports_[index];
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(port.master, buffer, sizeof buffer);
        if (n <= 0) return;  // EAGAIN: all read; nothing else is expected while we hold the slave
        std::string bytes(buffer, static_cast<std::size_t>(n));
        Record(index, Direction::ToModem, bytes);
        SessionOutput out;
        port.session->Feed(bytes, out);
        Enqueue(port, out);
        for (Submit& s : out.submits) submits.push_back(std::move(s));
    }
}

void Modem::WriteDue(std::size_t index) {
    Port& port = ports_[index];
    const auto now = std::chrono::steady_clock::now();
    while (port.master >= 0 && !port.outgoing.empty() && port.outgoing.front().due <= now) {
        std::string& bytes = port.outgoing.front().bytes;
        const ssize_t n = ::write(port.master, bytes.data(), bytes.size());
        if (n <= 0) return;  // the client's input is full: poll() says when it drains
        Record(index, Direction::FromModem, bytes.substr(0, static_cast<std::size_t>(n)));
        bytes.erase(0, static_cast<std::size_t>(n));
        if (bytes.empty()) port.outgoing.pop_front();
    }
}

void Modem::Serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const unsigned generation = generation_;
        // Without a client a master reports a hang-up for as long as it lasts, so
        // it is watched only while a client has the port open; the open watch says
        // when the next one comes.
        std::vector<pollfd> fds = {{wake_fd_, POLLIN, 0}, {open_watch_, POLLIN, 0}};
        std::vector<std::size_t> polled;  // the port of each descriptor after those two
        int timeout = -1;
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            Port& port = ports_[i];
            if (!ClientPresent(port)) {
                port.outgoing.clear();
                continue;
            }
            pollfd fd{port.master, POLLIN, 0};
            if (!port.outgoing.empty()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                    port.outgoing.front().due - std::chrono::steady_clock::now());
                if (wait.count() > 0) {
                    const int ms = static_cast<int>(wait.count());
                    timeout = timeout < 0 ? ms : std::min(timeout, ms);
                } else {
                    fd.events |= POLLOUT;  // due but not yet taken by the terminal
                }
            }
            fds.push_back(fd);
            polled.push_back(i);
        }
        lock.unlock();
        ::poll(fds.data(), fds.size(), timeout);
        Drain(wake_fd_);
        const std::vector<int> opened = OpenedWatches();
        lock.lock();
        if (generation != generation_ || ports_.front().master < 0) continue;
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            const auto at = std::find(polled.begin(), polled.end(), i);
            const bool hung_up =
                at != polled.end() && (fds[2 + (at - polled.begin())].revents & POLLHUP) != 0;
            if (hung_up || std::find(opened.begin(), opened.end(), ports_[i].watch) != opened.end())
                ports_[i].session->ClientChanged();
        }
        std::vector<Submit> submits;
        for (std::size_t k = 0; k < polled.size(); ++k)
            if ((fds[k + 2].revents & POLLIN) != 0) ReadInput(polled[k], submits);
        if (!submits.empty()) {
            // Routed before the confirmation goes out, so that a client which has
            // read "+CMGS:" finds the message arrived. Routing takes the network's
            // lock and then a recipient's, which may be this modem's own: never with
            // this one held.
            lock.unlock();
            for (const Submit& submit : submits) network_.Route(number(), submit);
            lock.lock();
        }
        for (std::size_t i = 0; i < ports_.size(); ++i) WriteDue(i);
    }
}

void Modem::SetFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    for (Port& port : ports_) port.session->SetFaults(faults);
}

Faults Modem::faults() const {
    std::lock_guard lock(mutex_);
    return first().faults();
}

void Modem::SendUnsolicited(const std::string& line) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        first().SendUnsolicited(line, out);
        Enqueue(ports_.front(), out);
    }
    Wake();
}

void Modem::Restart(bool quiet) {
    {
        std::lock_guard lock(mutex_);
        // The start-up texts come on the first port alone, as a modem's unsolicited texts do.
        for (Port& port : ports_) {
            SessionOutput out;
            port.session->Restart(quiet || &port != &ports_.front(), out);
            Enqueue(port, out);
        }
    }
    Wake();
}

void Modem::SendNoise(std::size_t count) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        first().SendNoise(count, out);
        Enqueue(ports_.front(), out);
    }
    Wake();
}

void Modem::Receive(const std::string& deliver_pdu) {
    {
        std::lock_guard lock(mutex_);
        SessionOutput out;
        first().Receive(deliver_pdu, out, ClientPresent(ports_.front()));
        Enqueue(ports_.front(), out);
    }
    Wake();
}

std::vector<StoredMessage> Modem::Messages() const {
    std::lock_guard lock(mutex_);
    return first().Messages();
}

PhoneBook Modem::phone_book() const {
    std::lock_guard lock(mutex_);
    return first().phone_book();
}

void Modem::SetPhoneBook(PhoneBook book) {
    std::lock_guard lock(mutex_);
    first().SetPhoneBook(std::move(book));
}

std::size_t Modem::unacknowledged() const {
    std::lock_guard lock(mutex_);
    return first().unacknowledged();
}

std::size_t Modem::held_back() const {
    std::lock_guard lock(mutex_);
    return first().held_back();
}

std::vector<TranscriptEntry> Modem::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}

}  // namespace velka::modemsim
