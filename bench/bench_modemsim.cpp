// The virtual modem's cost as a client sees it: one command's round trip through the
// pseudo-terminal, and one message sent to another simulated modem until its
// "+CMTI" arrives there. Raw termios reads on the client side, as the tests do.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tools/modemsim/simulator.h"

namespace {

using velka::modemsim::DefaultNumbers;
using velka::modemsim::Simulator;
using velka::modemsim::SimulatorOptions;

class Line {
  public:
    explicit Line(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios mode{};
        ::tcgetattr(fd_, &mode);
        ::cfmakeraw(&mode);
        ::tcsetattr(fd_, TCSANOW, &mode);
    }
    ~Line() { ::close(fd_); }
    void Write(const std::string& bytes) {
        [[maybe_unused]] const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    }
    // Reads until `expected` has come; false after ten seconds without it.
    bool ReadUntil(const std::string& expected) {
        std::string got;
        char buffer[1024];
        pollfd readable{fd_, POLLIN, 0};
        while (got.find(expected) == std::string::npos) {
            if (::poll(&readable, 1, 10000) <= 0) return false;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return false;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

  private:
    int fd_;
};

std::unique_ptr<Simulator> StartTwo(std::string& dir) {
    char pattern[] = "/tmp/bench-modemsim-XXXXXX";
    dir = ::mkdtemp(pattern);
    auto started = Simulator::Start(SimulatorOptions{DefaultNumbers(2), dir, 20});
    if (!started) std::abort();
    return std::move(*started);
}

void BM_CommandRoundTrip(benchmark::State& state) {
    std::string dir;
    auto simulator = StartTwo(dir);
    Line line(simulator->modem(0).device_path());
    line.Write("ATE0\r");
    line.ReadUntil("OK\r\n");
    for (auto _ : state) {
        line.Write("AT+CSQ\r");
        if (!line.ReadUntil("OK\r\n")) state.SkipWithError("no answer");
    }
    simulator.reset();
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_CommandRoundTrip)->UseRealTime();

void BM_SendUntilItArrives(benchmark::State& state) {
    std::string dir;
    auto simulator = StartTwo(dir);
    Line sender(simulator->modem(0).device_path());
    Line recipient(simulator->modem(1).device_path());
    sender.Write("ATE0\r");
    sender.ReadUntil("OK\r\n");
    const std::string pdu = "0011000B919799000000F20000FF02C834";  // "Hi" to the second modem
    for (auto _ : state) {
        sender.Write("AT+CMGS=16\r");
        sender.ReadUntil("> ");
        sender.Write(pdu + "\x1A");
        if (!sender.ReadUntil("OK\r\n") || !recipient.ReadUntil("+CMTI"))
            state.SkipWithError("lost");
        state.PauseTiming();
        recipient.Write("AT+CMGD=1,4\r");  // keep the store from filling
        recipient.ReadUntil("OK\r\n");
        state.ResumeTiming();
    }
    simulator.reset();
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_SendUntilItArrives)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
