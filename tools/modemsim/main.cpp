// velka-modemsim: serves simulated GSM modems on pseudo-terminals until SIGINT or
// SIGTERM, and answers control requests on a UNIX socket in its directory;
// "velka-modemsim ctl REQUEST..." sends one request and prints the answer.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/modemsim/simulator.h"

namespace velka::modemsim {
namespace {

constexpr int kRequestTimeoutMs = 5000;  // a control client that says nothing is dropped
constexpr std::size_t kLongestRequest = 4096;
// Instance keys are modemsim-<pid>-<n>, so that a later run can tell a killed
// simulator's leftovers from a running one's entries.
const std::string kInstancePrefix = "modemsim-";

struct Options {
    std::size_t count = 1;
    std::vector<std::string> numbers;
    std::string directory;
    std::size_t capacity = 20;
    std::vector<std::string> second_ports;  // positions from 1, as --second-ports gives them
    std::vector<bool> with_second_port;     // by modem, from second_ports
};

void Usage() {
    std::fputs(
        "usage: velka-modemsim [--count N] [--numbers +7...,+7...] [--capacity SLOTS] [--dir DIR]\n"
        "                      [--second-ports N,...]   (those modems get a second port)\n"
        "       velka-modemsim ctl [--dir DIR] REQUEST...   (ctl help lists the requests)\n",
        stderr);
}

std::string DefaultDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/velka-modemsim";
    return "/tmp/velka-modemsim-" + std::to_string(::getuid());
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        out.push_back(text.substr(start, comma - start));
    out.push_back(text.substr(start));
    return out;
}

bool ParseCount(const char* text, std::size_t& out) {
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, out);
    return error == std::errc() && stop == end && out >= 1 && out <= 99;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    bool count_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--count") {
            if (!ParseCount(value, options.count)) return false;
            count_given = true;
        } else if (arg == "--numbers") {
            options.numbers = SplitList(value);
        } else if (arg == "--capacity") {
            if (!ParseCount(value, options.capacity)) return false;
        } else if (arg == "--dir") {
            options.directory = value;
        } else if (arg == "--second-ports") {
            options.second_ports = SplitList(value);
        } else {
            return false;
        }
    }
    if (options.numbers.empty()) options.numbers = DefaultNumbers(options.count);
    if (count_given && options.numbers.size() != options.count) {
        std::fprintf(stderr, "velka-modemsim: --count %zu but %zu numbers given\n", options.count,
                     options.numbers.size());
        return false;
    }
    for (const std::string& n : options.numbers)
        if (n.empty() || n.find_first_not_of("+0123456789") != std::string::npos) {
            std::fprintf(stderr, "velka-modemsim: \"%s\" is not a telephone number\n", n.c_str());
            return false;
        }
    if (options.directory.empty()) options.directory = DefaultDirectory();
    options.with_second_port.assign(options.numbers.size(), false);
    for (const std::string& position : options.second_ports) {
        std::size_t n = 0;
        if (!ParseCount(position.c_str(), n) || n > options.numbers.size()) {
            std::fprintf(stderr, "velka-modemsim: --second-ports: no modem %s\n", position.c_str());
            return false;
        }
        options.with_second_port[n - 1] = true;
    }
    return true;
}

sockaddr_un SocketAddress(const std::string& directory, bool& fits) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = directory + "/control";
    fits = path.size() < sizeof address.sun_path;
    if (fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "velka-modemsim: %s: %s\n", what.c_str(), std::strerror(errno));
    return 1;
}

// --- the client side ---

int RunControl(int argc, char** argv) {
    std::string directory = DefaultDirectory();
    int first = 2;
    if (argc > 3 && std::string(argv[2]) == "--dir") {
        directory = argv[3];
        first = 4;
    }
    std::string request;
    for (int i = first; i < argc; ++i) {
        if (i > first) request += ' ';
        request += argv[i];
    }
    bool fits = false;
    const sockaddr_un address = SocketAddress(directory, fits);
    if (!fits) return Fail("the directory name is too long for a socket");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail("cannot make a socket");
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fail("no velka-modemsim answers in " + directory);
    request += "\n";
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return Fail("cannot send the request");
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    std::fputs(answer.c_str(), stdout);
    return answer.starts_with("error: ") ? 1 : 0;
}

// --- the server side ---

// Reads one request line, bounded in time and size, runs it and answers.
void AnswerClient(int client, Simulator& simulator) {
    std::string request;
    char buffer[512];
    pollfd readable{client, POLLIN, 0};
    while (request.find('\n') == std::string::npos && request.size() < kLongestRequest &&
           ::poll(&readable, 1, kRequestTimeoutMs) > 0) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string answer = simulator.Control(request.substr(0, request.find('\n')));
    for (std::size_t sent = 0; sent < answer.size();) {
        // A client that went away must not end the simulator with SIGPIPE.
        const ssize_t n = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
}

int ListenOn(const std::string& directory) {
    bool fits = false;
    const sockaddr_un address = SocketAddress(directory, fits);
    if (!fits) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // A socket that nobody answers on is left over from a killed run; a live one is
    // another simulator, which must not lose its devices to this one.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        ::close(fd);
        errno = EADDRINUSE;
        return -1;
    }
    ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int Serve(const Options& options) {
    // The signals are taken from a descriptor in the loop below; blocked before the
    // modems' threads start so that none of them receives one.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int signal_fd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (signal_fd < 0) return Fail("cannot watch signals");
    ::mkdir(options.directory.c_str(), 0700);
    const int listener = ListenOn(options.directory);
    if (listener < 0) return Fail("cannot serve control requests in " + options.directory);

    RemoveDeadInstances(Registry::Machine(), kInstancePrefix);
    SimulatorOptions simulator_options{options.numbers, options.directory, options.capacity,
                                       &Registry::Machine(),
                                       kInstancePrefix + std::to_string(::getpid())};
    simulator_options.second_ports = options.with_second_port;
    auto simulator = Simulator::Start(simulator_options);
    if (!simulator) {
        std::fprintf(stderr, "velka-modemsim: %s\n", simulator.error().message.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < (*simulator)->size(); ++i) {
        Modem& modem = (*simulator)->modem(i);
        std::printf("modem: %s %s %s\n", modem.device_path().c_str(),
                    (*simulator)->com_name(i).c_str(), modem.number().c_str());
        if (modem.ports() > 1)
            std::printf("second port: %s %s %s\n", modem.device_path(1).c_str(),
                        (*simulator)->com_name(i, 1).c_str(), modem.number().c_str());
    }
    std::fflush(stdout);

    for (;;) {
        pollfd fds[2] = {{signal_fd, POLLIN, 0}, {listener, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if ((fds[0].revents & POLLIN) != 0) break;
        if ((fds[1].revents & POLLIN) != 0) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            AnswerClient(client, **simulator);
            ::close(client);
        }
    }
    simulator->reset();
    ::close(listener);
    bool fits = false;
    ::unlink(SocketAddress(options.directory, fits).sun_path);
    return 0;
}

}  // namespace
}  // namespace velka::modemsim

int main(int argc, char** argv) {
    using namespace velka::modemsim;
    if (argc > 1 && std::string(argv[1]) == "ctl") return RunControl(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    return Serve(options);
}
