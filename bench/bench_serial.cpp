// bench_serial: what the serial component costs while idle, how soon a waiting
// WaitForString sees a byte, and how fast bytes pass through the dispatcher, all
// over a pseudo-terminal whose master side plays the modem. Prints figures.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/device_manager.h"
#include "serial/ser_port.h"
#include "serial/ser_posix.h"
#include "serial/ser_selcom.h"

namespace {

using namespace velka;
using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class Modem {
  public:
    Modem() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(fd_);
        ::unlockpt(fd_);
        path_ = ::ptsname(fd_);
    }
    ~Modem() { ::close(fd_); }
    const std::string& Path() const { return path_; }
    void Write(const char* bytes, std::size_t n) {
        while (n > 0) {
            const ssize_t put = ::write(fd_, bytes, n);
            if (put > 0) {
                bytes += put;
                n -= static_cast<std::size_t>(put);
            }
        }
    }
    std::size_t Drain(std::size_t n) {
        std::vector<char> chunk(65536);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd_, chunk.data(), chunk.size());
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        return got;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

void OpenModemPort(TComPort& port, const Modem& modem) {
    const auto name = DeviceManager(Registry::Machine()).RegisterPort(modem.Path());
    port.SetBaud(115200);
    port.SetAutoOpen(false);
    port.SetHWFlowOptions(hwfUseDTR | hwfUseRTS);
    port.SetBufferFull(3686);
    port.SetBufferResume(409);
    port.SetComNumber(SelectedComNum(*name));
    port.SetOpen(true);
}

// Process CPU time spent while `work` runs, as a share of one core.
template <typename Work>
double CpuShare(Work work) {
    const double cpu = ProcessCpuSeconds();
    const auto wall = Clock::now();
    work();
    return (ProcessCpuSeconds() - cpu) / Seconds(Clock::now() - wall) * 100.0;
}

void IdleCost() {
    Modem modem;
    TComPort port;
    OpenModemPort(port, modem);
    const double idle = CpuShare([] { std::this_thread::sleep_for(std::chrono::seconds(5)); });
    std::printf("idle open port, 5 s:                      %.3f %% of one core\n", idle);
    bool found = true;
    const double waiting = CpuShare([&] { found = port.WaitForString("NEVER", 91, false, true); });
    std::printf("WaitForString for 91 ticks (5 s), no reply: %.3f %% of one core (result %s)\n",
                waiting, found ? "true" : "false");
}

void Latency() {
    Modem modem;
    TComPort port;
    OpenModemPort(port, modem);
    std::vector<double> samples;
    for (int i = 0; i < 300; ++i) {
        std::atomic<Clock::time_point> written{};
        std::thread far_end([&] {
            // Let the wait fall asleep first: the figure is a wake-up, not a poll.
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            written = Clock::now();
            modem.Write("OK", 2);
        });
        const bool answered = port.WaitForString("OK", 100, false, true);
        const auto returned = Clock::now();
        far_end.join();
        if (!answered) bench::Stop("the answer never came");
        samples.push_back(Seconds(returned - written.load()) * 1e6);
    }
    std::sort(samples.begin(), samples.end());
    std::printf(
        "byte written at the far end -> WaitForString returns: median %.0f us, "
        "90th percentile %.0f us (%zu samples)\n",
        samples[samples.size() / 2], samples[samples.size() * 9 / 10], samples.size());
}

// The far end sends `bytes` of filler as fast as the pseudo-terminal takes them.
std::thread Flood(Modem& modem, std::size_t bytes) {
    return std::thread([&modem, bytes] {
        std::vector<char> chunk(65536, 'x');
        for (std::size_t sent = 0; sent < bytes; sent += chunk.size()) {
            modem.Write(chunk.data(), chunk.size());
        }
    });
}

void ReceiveThroughput() {
    Modem modem;
    TComPort port;
    OpenModemPort(port, modem);
    constexpr std::size_t kBytes = 32 << 20;
    std::thread far_end = Flood(modem, kBytes);
    const auto started = Clock::now();
    std::size_t got = 0;
    while (got < kBytes && port.WaitCharReady(Clock::now() + std::chrono::seconds(10))) {
        while (port.CharReady()) {
            port.GetChar();
            ++got;
        }
    }
    const double seconds = Seconds(Clock::now() - started);
    far_end.join();
    std::printf("received through TComPort::GetChar: %zu bytes in %.2f s = %.1f MB/s\n", got,
                seconds, static_cast<double>(got) / seconds / 1e6);
}

void DispatcherReceiveThroughput() {
    Modem modem;
    TPosixDispatcher port;
    port.InitPort(modem.Path(), 115200, pNone, 8, 1, 4096, 4096, 0x33);
    constexpr std::size_t kBytes = 32 << 20;
    std::thread far_end = Flood(modem, kBytes);
    const auto started = Clock::now();
    std::size_t got = 0;
    std::uint8_t c = 0;
    while (got < kBytes && port.WaitForData(Clock::now() + std::chrono::seconds(10), nullptr)) {
        while (port.GetChar(c) == 0) ++got;
    }
    const double seconds = Seconds(Clock::now() - started);
    far_end.join();
    std::printf("received through TBaseDispatcher::GetChar: %zu bytes in %.2f s = %.1f MB/s\n", got,
                seconds, static_cast<double>(got) / seconds / 1e6);
    port.DonePort();
}

void SendThroughput() {
    Modem modem;
    TPosixDispatcher port;
    port.InitPort(modem.Path(), 115200, pNone, 8, 1, 4096, 4096, 0x33);
    constexpr std::size_t kBytes = 32 << 20;
    std::size_t drained = 0;
    std::thread far_end([&] { drained = modem.Drain(kBytes); });
    const std::vector<std::uint8_t> block(2048, 'y');
    const auto started = Clock::now();
    for (std::size_t sent = 0; sent < kBytes; sent += block.size()) {
        if (!port.WaitForOutputRoom(static_cast<int>(block.size()),
                                    Clock::now() + std::chrono::seconds(10)))
            bench::Stop("the output ring stayed full");
        port.PutBlock(block.data(), static_cast<int>(block.size()));
    }
    far_end.join();
    const double seconds = Seconds(Clock::now() - started);
    std::printf("sent through PutBlock: %zu bytes arrived in %.2f s = %.1f MB/s\n", drained,
                seconds, static_cast<double>(drained) / seconds / 1e6);
    port.DonePort();
}

}  // namespace

int main() {
    // A registry of the bench's own, so that no real port list is touched.
    char dir[] = "/tmp/bench_serial.XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    const std::string registry = std::string(dir) + "/registry.db";
    ::setenv("VELKA_REGISTRY", registry.c_str(), 1);
    IdleCost();
    Latency();
    ReceiveThroughput();
    DispatcherReceiveThroughput();
    SendThroughput();
    std::filesystem::remove_all(dir);
    return 0;
}
