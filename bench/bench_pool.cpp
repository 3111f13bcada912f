// A pool of virtual modems over one queue, each taking its time for every submit
// as a real network does:
//   throughput - single-message records sent through 1, 2, 4, 8 and 16 modems: records
//                per second, and its ratio to one modem's rate times the modems;
//   failover   - four modems, one unplugged a third of the way through 1,000 records:
//                duplicates, and how soon the record it was sending went out elsewhere;
//   idle       - the process's CPU time while 16 workers idle with reception on.
// A harness that prints figures (0 records or seconds leaves that part out):
//   bench_pool [RECORDS-PER-MODEM] [SUBMIT-DELAY-MS] [IDLE-SECONDS]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "app/app_core.h"
#include "bench/bench_support.h"
#include "bench/bench_worker.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "settings/pool_settings.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka {
namespace {

using Clock = std::chrono::steady_clock;

// `modems` virtual modems, each one taking `delay_ms` for a submit, all in the
// pool of `home`'s Config.ini.
std::unique_ptr<modemsim::Simulator> StartPool(const std::string& home, const std::string& dir,
                                               std::size_t modems, int delay_ms, bool reception) {
    modemsim::SimulatorOptions options{modemsim::DefaultNumbers(modems), dir, 20};
    options.registry = &Registry::Machine();
    auto started = modemsim::Simulator::Start(options);
    bench::Require(started);
    auto& sim = **started;
    const std::string file = home + "/Config.ini";
    bench::Require(profile::WriteString(file, "DEVICEMAP", "SerialPort", sim.com_name(0)));
    bench::Require(
        profile::WriteString(file, "DEVICEMAP", "PerformMailCheck", reception ? "1" : "0"));
    for (std::size_t i = 0; i < modems; ++i) {
        sim.Control("fault " + std::to_string(i + 1) + " confirm-delay " +
                    std::to_string(delay_ms));
        if (i == 0) continue;
        bench::Require(profile::WriteString(file, settings::ModemSection(static_cast<int>(i + 1)),
                                            "SerialPort", sim.com_name(i)));
    }
    return std::move(*started);
}

// `records` single-message records, each with a text of its own, in the queue.
void QueueRecords(app::AppCore& core, int records) {
    std::vector<packet> queued;
    for (int i = 0; i < records; ++i) {
        queued.push_back(MakePacket("+7916000" + std::to_string(1000 + i % 1000),
                                    "07.12.2026 10:00:00", "record " + std::to_string(i)));
    }
    bench::Require(core.Enqueue(queued));
}

// Records per second through a pool of `modems`.
double Throughput(std::size_t modems, int records, int delay_ms) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartPool(home.path(), sim_dir.path(), modems, delay_ms, false);
    bench::SentCount sent;
    app::AppCore core(home.path());
    QueueRecords(core, records);
    const auto started = Clock::now();
    bench::Require(core.Start(sent.Events()));
    sent.WaitFor(records);
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    core.Shutdown();
    return records / wall;
}

// Four modems, one unplugged a third of the way through `records`: the records
// accepted twice, and how long the record its modem was sending took to go out
// through another.
void Failover(int records, int delay_ms) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartPool(home.path(), sim_dir.path(), 4, delay_ms, false);
    std::mutex lock;
    std::condition_variable changed;
    int sent = 0;                                                   // guarded by lock
    std::map<std::uint64_t, Clock::time_point> sent_at, failed_at;  // guarded by lock
    app::WorkerEvents events;
    events.on_send = [&](std::uint64_t id, app::SendOutcome outcome) {
        std::lock_guard guard(lock);
        if (outcome != app::SendOutcome::Sent) return;
        ++sent;
        sent_at[id] = Clock::now();
        changed.notify_all();
    };
    events.on_send_failed = [&](const app::SendFailure& failure) {
        std::lock_guard guard(lock);
        failed_at.try_emplace(failure.id, Clock::now());
    };
    app::AppCore core(home.path());
    QueueRecords(core, records);
    bench::Require(core.Start(events));
    std::unique_lock held(lock);
    changed.wait(held, [&] { return sent >= records / 3; });
    const auto unplugged = Clock::now();
    held.unlock();
    sim->Control("drop 2");
    held.lock();
    changed.wait(held, [&] { return sent == records; });
    double longest = 0;
    double told = 0;
    int moved = 0;
    for (const auto& [id, failed] : failed_at) {
        if (failed < unplugged) continue;
        ++moved;
        longest = std::max(longest, std::chrono::duration<double>(sent_at[id] - unplugged).count());
        told = std::max(told, std::chrono::duration<double>(failed - unplugged).count());
    }
    held.unlock();
    core.Shutdown();
    std::map<std::string, int> copies;
    for (const auto& message : sim->network().Outside()) ++copies[message.text];
    int twice = 0;
    for (const auto& [text, count] : copies) twice += count - 1;
    std::printf(
        "failover: 4 modems, %d records, modem 2 unplugged after %d: %zu texts out, %d "
        "accepted twice, %d record(s) cut off by the unplug, failed %.3f s and out through "
        "another %.3f s after it\n",
        records, records / 3, copies.size(), twice, moved, told, longest);
}

void Idle(std::size_t modems, int seconds) {
    testing::TempDir home;
    testing::TempDir sim_dir;
    auto sim = StartPool(home.path(), sim_dir.path(), modems, 0, true);
    app::AppCore core(home.path());
    bench::Require(core.Start());
    // The openings first: what is measured is the pool at rest.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu_before = bench::ProcessCpuSeconds();
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = bench::ProcessCpuSeconds() - cpu_before;
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    core.Shutdown();
    std::printf(
        "idle: %zu modems, %.3f s of CPU in %.1f s = %.3f %% of one core, %.4f %% per modem "
        "(workers, port threads and the virtual modems)\n",
        modems, cpu, wall, 100.0 * cpu / wall, 100.0 * cpu / wall / static_cast<double>(modems));
}

}  // namespace
}  // namespace velka

int main(int argc, char** argv) {
    const int per_modem = argc > 1 ? std::atoi(argv[1]) : 125;
    const int delay_ms = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int idle_seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    velka::testing::TempDir registry;
    ::setenv("VELKA_REGISTRY", registry.File("registry.db").c_str(), 1);
    double single = 0;
    for (const std::size_t modems : {1u, 2u, 4u, 8u, 16u}) {
        if (per_modem == 0) break;
        const int records = per_modem * static_cast<int>(modems);
        const double rate = velka::Throughput(modems, records, delay_ms);
        if (modems == 1) single = rate;
        std::printf(
            "throughput: %2zu modems, %5d records, %d ms a submit: %.2f records/s, %.2f x one "
            "modem's rate times %zu\n",
            modems, records, delay_ms, rate, rate / (single * static_cast<double>(modems)), modems);
        std::fflush(stdout);
    }
    velka::Failover(1000, 100);
    if (idle_seconds > 0) velka::Idle(16, idle_seconds);
    return 0;
}
