// Sending and receiving through a virtual modem that answers at once:
//   throughput - single-message records queued, each sent after its own modem
//                initialisation and appended to outbox.db, per second;
//   idle       - the process's CPU time while the worker idles with reception on
//                and an empty SIM (one initialisation and reception cycle per 5 s);
//   reception  - one cycle that moves 100 messages from the SIM into inbox.db.
// A harness that prints figures: bench_modem [RECORDS] [IDLE-SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/app_core.h"
#include "bench/bench_support.h"
#include "bench/bench_worker.h"
#include "modem/inbox_sink.h"
#include "modem/session.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::unique_ptr<modemsim::Simulator> StartModems(const std::string& dir, std::size_t capacity) {
    modemsim::SimulatorOptions options{modemsim::DefaultNumbers(1), dir, capacity};
    options.registry = &Registry::Machine();
    auto started = modemsim::Simulator::Start(options);
    bench::Require(started);
    return std::move(*started);
}

void Configure(const std::string& home, const std::string& port, bool reception) {
    const std::string file = home + "/Config.ini";
    bench::Require(profile::WriteString(file, "DEVICEMAP", "SerialPort", port));
    bench::Require(
        profile::WriteString(file, "DEVICEMAP", "PerformMailCheck", reception ? "1" : "0"));
}

void Throughput(int records) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartModems(sim_dir.path(), 20);
    Configure(home.path(), sim->com_name(0), false);
    bench::SentCount sent;
    app::AppCore core(home.path());
    const auto started = Clock::now();
    const double cpu_before = bench::ProcessCpuSeconds();
    std::vector<packet> queued;
    for (int i = 0; i < records; ++i) {
        queued.push_back(MakePacket("+7916000" + std::to_string(1000 + i % 10),
                                    "07.12.2026 10:00:00", "record " + std::to_string(i)));
    }
    bench::Require(core.Enqueue(queued));
    bench::Require(core.Start(sent.Events()));
    sent.WaitFor(records);
    const double wall = Seconds(Clock::now() - started);
    const double cpu = bench::ProcessCpuSeconds() - cpu_before;
    core.Shutdown();
    std::printf(
        "throughput: %d records in %.2f s = %.0f records/s (process CPU %.2f s, modem included)\n",
        records, wall, records / wall, cpu);
}

void Idle(int seconds) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartModems(sim_dir.path(), 20);
    Configure(home.path(), sim->com_name(0), true);
    app::AppCore core(home.path());
    bench::Require(core.Start());
    const double cpu_before = bench::ProcessCpuSeconds();
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = bench::ProcessCpuSeconds() - cpu_before;
    const double wall = Seconds(Clock::now() - started);
    core.Shutdown();
    std::printf(
        "idle: %.3f s of CPU in %.1f s = %.2f %% of one core (worker, port threads and modem)\n",
        cpu, wall, 100.0 * cpu / wall);
}

void Reception(int messages) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartModems(sim_dir.path(), static_cast<std::size_t>(messages));
    for (int i = 0; i < messages; ++i) {
        sim->Control("inject 1 +79161234567 message number " + std::to_string(i));
    }
    StopSignal stop;
    modem::Session session(stop, Registry::Machine());
    session.Bind(static_cast<std::uint16_t>(std::stoi(sim->com_name(0).substr(3))));
    modem::InboxSink inbox(home.File("inbox.db"));
    const auto started = Clock::now();
    const bool ready = session.Open();
    const auto report = session.Receive(inbox);
    const double wall = Seconds(Clock::now() - started);
    session.Close();
    std::printf("reception: %zu of %d messages stored and %zu deleted in one cycle in %.3f s%s\n",
                report.stored.size(), messages, report.deleted, wall,
                ready ? "" : " (modem not ready)");
}

// The cost of an optional command the modem refuses (here AT+CNMI, asked at every
// opening), refused with "ERROR" and with a vendor's own text: the mean of `count`
// openings, each on a port opened afresh.
void RefusedOptional(int count) {
    for (const char* refusal : {"off", "COMMAND NOT SUPPORT"}) {
        testing::TempDir sim_dir;
        auto sim = StartModems(sim_dir.path(), 20);
        sim->Control(std::string("fault 1 refusal-text ") + refusal);
        sim->Control("fault 1 error AT+CNMI");
        StopSignal stop;
        modem::Session session(stop, Registry::Machine());
        session.Bind(static_cast<std::uint16_t>(std::stoi(sim->com_name(0).substr(3))));
        double total = 0;
        for (int i = 0; i < count; ++i) {
            const auto started = Clock::now();
            if (!session.Open()) bench::Stop("the modem was not ready");
            total += Seconds(Clock::now() - started);
            session.Close();
        }
        std::printf("opening with AT+CNMI refused by %s: %.4f s on average over %d\n",
                    std::string_view(refusal) == "off" ? "\"ERROR\"" : refusal, total / count,
                    count);
    }
}

}  // namespace
}  // namespace velka

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    velka::testing::TempDir registry;
    ::setenv("VELKA_REGISTRY", registry.File("registry.db").c_str(), 1);
    velka::Throughput(records);
    velka::Reception(100);
    velka::Idle(idle_seconds);
    velka::RefusedOptional(20);
    return 0;
}
