// Delivery states as the outbox view meets them: the states of 100,000 and of
// 1,000,000 sent records worked out afresh from outbox.states and as many status
// reports in reports.db (the files read, the reports matched, the states worded),
// taken from the delivery states cache while nothing changed, or from the cache
// and what was appended since; and the parts of the first.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "messages/delivery_states.h"
#include "store/delivery_cache.h"
#include "store/sent_file.h"
#include "store/store_file.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

constexpr std::size_t kRecords = 100000;
constexpr std::size_t kRecipients = 1000;

// The i-th second from 08.12.2026 0:00:00, as the store files write times.
std::string Time(std::size_t i) {
    char text[40];
    std::snprintf(text, sizeof text, "%02zu.12.2026 %zu:%02zu:%02zu", 8 + i / 86400, i / 3600 % 24,
                  i / 60 % 60, i % 60);
    return text;
}

std::string Recipient(std::size_t i) {
    return "+7916" + std::to_string(1000000 + i % kRecipients);
}

// An outbox of `records` one-message records sent a second apart, their
// references coming round every 256, and a report for each a minute later: most
// delivered, every tenth not. Written in slices, so that making a million costs
// little memory.
struct Outbox {
    explicit Outbox(std::size_t records) : made_at_first(records), count(records) {
        constexpr std::size_t kSlice = 50000;
        for (std::size_t start = 0; start < records; start += kSlice) {
            std::vector<packet> made;
            std::vector<std::vector<store::SegmentSent>> sent;
            std::vector<store::StatusReport> reported;
            for (std::size_t i = start; i < std::min(records, start + kSlice); ++i) {
                const int reference = static_cast<int>(i % 256);
                made.push_back(MakePacket(Recipient(i), Time(i), "Message " + std::to_string(i)));
                sent.push_back({{reference, Time(i)}});
                store::StatusReport report;
                report.received = Time(i + 60);
                report.reference = reference;
                report.recipient = Recipient(i);
                report.discharged = Time(i + 50);
                report.status = i % 10 == 0 ? 0x45 : 0;
                reported.push_back(std::move(report));
            }
            bench::Require(store::AppendSent(bench::Held(path), path, made, sent));
            bench::Require(store::AppendReports(bench::Held(store::ReportsPathBeside(path)),
                                                store::ReportsPathBeside(path), reported));
        }
    }
    // One more record sent, after every report so far came, and one more report:
    // that of the record sent before it.
    void SendOneMore() {
        const std::size_t i = count++;
        const std::string sent_at = Time(made_at_first + 60 + 2 * (i - made_at_first));
        bench::Require(store::AppendSent(
            bench::Held(path), path,
            std::vector<packet>{MakePacket(Recipient(i), sent_at, "Message " + std::to_string(i))},
            std::vector<std::vector<store::SegmentSent>>{{{static_cast<int>(i % 256), sent_at}}}));
        store::StatusReport report;
        report.received = Time(made_at_first + 61 + 2 * (i - made_at_first));
        report.reference = static_cast<int>((i - 1) % 256);
        report.recipient = Recipient(i - 1);
        report.discharged = report.received;
        report.status = 0;
        bench::Require(store::AppendReports(bench::Held(store::ReportsPathBeside(path)),
                                            store::ReportsPathBeside(path), {report}));
    }
    // The two files read into memory, for the benchmarks of the matching alone.
    void ReadEntries() {
        auto loaded = store::LoadSent(store::SentPathFor(path));
        bench::Require(loaded);
        entries = std::move(loaded->entries);
        auto kept = store::LoadReports(store::ReportsPathBeside(path));
        bench::Require(kept);
        reports = std::move(*kept);
    }
    velka::testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    const std::size_t made_at_first;
    std::size_t count;  // those and the ones sent one more at a time
    std::vector<store::SentEntry> entries;
    std::vector<store::StatusReport> reports;
};

Outbox& Shared(std::size_t records = kRecords) {
    static std::map<std::size_t, std::unique_ptr<Outbox>> made;
    auto& outbox = made[records];
    if (!outbox) outbox = std::make_unique<Outbox>(records);
    return *outbox;
}

// What the window does for each load of "Отправленные", the box's own listing
// aside: with the cache (nothing changed since the last load) or matching afresh
// (a message sent or a report kept since).
void LoadStates(benchmark::State& state, bool cached) {
    Outbox& outbox = Shared(static_cast<std::size_t>(state.range(0)));
    const std::string cache = store::DeliveryCachePathFor(outbox.path);
    if (cached) {  // the load before, which matched and wrote the cache
        const auto box = store::BoxFile::Open(outbox.path);
        if (!box || !LoadDeliveryStates(outbox.path, *box)) state.SkipWithError("no states");
    }
    for (auto _ : state) {
        if (!cached) {
            state.PauseTiming();
            std::remove(cache.c_str());
            state.ResumeTiming();
        }
        const auto box = store::BoxFile::Open(outbox.path);
        const auto states = LoadDeliveryStates(outbox.path, *box);
        if (!states || states->by_record.size() != outbox.count || states->unbelieved != 0)
            state.SkipWithError("the states did not load");
        benchmark::DoNotOptimize(DeliveryStateTexts(states->by_record));
    }
}
void BM_LoadDeliveryStates(benchmark::State& state) {
    LoadStates(state, false);
}
BENCHMARK(BM_LoadDeliveryStates)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
void BM_LoadCachedDeliveryStates(benchmark::State& state) {
    LoadStates(state, true);
}
BENCHMARK(BM_LoadCachedDeliveryStates)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The load after one more record was sent and one more report kept: the states of
// the records before from the cache, the two appended matched on top of them.
void BM_LoadDeliveryStatesAfterAppend(benchmark::State& state) {
    Outbox& outbox = Shared(static_cast<std::size_t>(state.range(0)));
    {  // the load before, which wrote the cache
        const auto box = store::BoxFile::Open(outbox.path);
        if (!box || !LoadDeliveryStates(outbox.path, *box)) state.SkipWithError("no states");
    }
    for (auto _ : state) {
        state.PauseTiming();
        outbox.SendOneMore();
        state.ResumeTiming();
        const auto box = store::BoxFile::Open(outbox.path);
        const auto states = LoadDeliveryStates(outbox.path, *box);
        if (!states || states->by_record.size() != outbox.count || states->unbelieved != 0 ||
            states->by_record[outbox.count - 2].delivery != DeliveryOutcome::Delivered)
            state.SkipWithError("the states did not load");
        benchmark::DoNotOptimize(DeliveryStateTexts(states->by_record));
    }
}
BENCHMARK(BM_LoadDeliveryStatesAfterAppend)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// Its parts: reading the two files, each whole.
void BM_LoadSentFile(benchmark::State& state) {
    Outbox& outbox = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(store::LoadSent(store::SentPathFor(outbox.path)));
}
BENCHMARK(BM_LoadSentFile)->Unit(benchmark::kMillisecond);

void BM_LoadReportsFile(benchmark::State& state) {
    Outbox& outbox = Shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(store::LoadReports(store::ReportsPathBeside(outbox.path)));
}
BENCHMARK(BM_LoadReportsFile)->Unit(benchmark::kMillisecond);

// The matching alone: entries and reports already in memory.
void BM_MatchReports(benchmark::State& state) {
    Outbox& outbox = Shared();
    if (outbox.entries.empty()) outbox.ReadEntries();
    const auto box = store::BoxFile::Open(outbox.path);
    for (auto _ : state)
        benchmark::DoNotOptimize(MatchReports(*box, outbox.entries, outbox.reports));
}
BENCHMARK(BM_MatchReports)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velka::messages

BENCHMARK_MAIN();
