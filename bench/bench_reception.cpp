// Arrival latency: from a message handed to the virtual modem to its record in
// inbox.db (the worker's on_received, said once the append is on the disk), over N
// arrivals, with the modem announcing arrivals ("+CMTI:"), with a modem that
// refuses AT+CNMI and is polled every 5 s, with one that takes AT+CNMI but never
// announces on this port, and with a modem that restarts by itself before each
// arrival (saying so, and quietly). Between arrivals the harness waits a random
// pause, so that the polled arrivals fall anywhere in the poll's period.
// A harness that prints figures: bench_reception [ARRIVALS]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/app_core.h"
#include "bench/bench_support.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka {
namespace {

using Clock = std::chrono::steady_clock;

struct Mode {
    const char* name;
    const char* fault;                        // put on the modem first; empty: none
    std::chrono::milliseconds longest_pause;  // between arrivals, chosen at random
    const char* before_each = "";             // a request before each arrival's pause
    int arrivals = 0;                         // 0: as many as the command line says
};

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

void Measure(const Mode& mode, int arrivals) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    modemsim::SimulatorOptions options{modemsim::DefaultNumbers(1), sim_dir.path(), 20};
    options.registry = &Registry::Machine();
    auto started = modemsim::Simulator::Start(options);
    bench::Require(started);
    auto& sim = **started;
    if (*mode.fault != '\0') sim.Control(mode.fault);
    const std::string config = home.File("Config.ini");
    bench::Require(profile::WriteString(config, "DEVICEMAP", "SerialPort", sim.com_name(0)));
    bench::Require(profile::WriteString(config, "DEVICEMAP", "PerformMailCheck", "1"));

    std::mutex lock;
    std::condition_variable stored_one;
    std::size_t stored = 0;       // guarded by lock
    Clock::time_point stored_at;  // guarded by lock
    app::WorkerEvents events;
    events.on_received = [&](const std::vector<store::ReceivedRecord>& records) {
        std::lock_guard guard(lock);
        stored += records.size();
        stored_at = Clock::now();
        stored_one.notify_all();
    };
    app::AppCore core(home.path());
    bench::Require(core.Start(events));
    // The first reception cycle, with its initialisation, goes before the first arrival.
    std::this_thread::sleep_for(std::chrono::seconds(1));

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause_ms(0, static_cast<int>(mode.longest_pause.count()));
    std::vector<double> latencies;
    if (mode.arrivals > 0) arrivals = mode.arrivals;
    for (int i = 0; i < arrivals; ++i) {
        if (*mode.before_each != '\0') sim.Control(mode.before_each);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        const auto handed = Clock::now();
        sim.Control("inject 1 +79161234567 arrival " + std::to_string(i));
        std::unique_lock held(lock);
        // The longest a lost announcement may cost is the 60 s safety poll.
        if (!stored_one.wait_for(held, std::chrono::seconds(90),
                                 [&] { return stored > static_cast<std::size_t>(i); })) {
            bench::Stop("an arrival was not stored within 90 s");
        }
        latencies.push_back(std::chrono::duration<double>(stored_at - handed).count());
    }
    core.Shutdown();
    std::printf("%s: %d arrivals, latency median %.3f s, 90th percentile %.3f s, worst %.3f s\n",
                mode.name, arrivals, Percentile(latencies, 0.5), Percentile(latencies, 0.9),
                Percentile(latencies, 1.0));
}

}  // namespace
}  // namespace velka

int main(int argc, char** argv) {
    const int arrivals = argc > 1 ? std::atoi(argv[1]) : 100;
    velka::testing::TempDir registry;
    ::setenv("VELKA_REGISTRY", registry.File("registry.db").c_str(), 1);
    using std::chrono::milliseconds;
    velka::Measure({"announced (+CMTI)", "", milliseconds(200)}, arrivals);
    velka::Measure({"polled (AT+CNMI refused)", "fault 1 cnmi refuse", milliseconds(5000)},
                   arrivals);
    velka::Measure({"AT+CNMI taken, nothing announced", "fault 1 mute on", milliseconds(5000)},
                   arrivals);
    velka::Measure(
        {"restart with start-up texts before each arrival", "", milliseconds(200), "restart 1"},
        arrivals);
    // Noticed only at the next command, the signal reading every 30 s: few arrivals.
    velka::Measure(
        {"quiet restart before each arrival", "", milliseconds(200), "restart 1 quiet", 5},
        arrivals);
    return 0;
}
