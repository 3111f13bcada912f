// Delivery states as the outbox view meets them: the states of 100,000 sent records
// worked out afresh from outbox.states and 100,000 status reports in reports.db
// (the files read, the reports matched, the states worded), and its parts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "messages/delivery_states.h"
#include "store/sent_file.h"
#include "store/store_file.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

constexpr std::size_t kRecords = 100000;
constexpr std::size_t kRecipients = 1000;

// The i-th second from 08.12.2026 0:00:00, as the store files write times.
std::string Time(std::size_t i) {
    char text[32];
    std::snprintf(text, sizeof text, "%02zu.12.2026 %zu:%02zu:%02zu", 8 + i / 86400, i / 3600 % 24,
                  i / 60 % 60, i % 60);
    return text;
}

std::string Recipient(std::size_t i) {
    return "+7916" + std::to_string(1000000 + i % kRecipients);
}

// An outbox of kRecords one-message records sent a second apart, their references
// coming round every 256, and a report for each a minute later: most delivered,
// every tenth not.
struct Outbox {
    Outbox() {
        std::vector<packet> records;
        std::vector<std::vector<store::SegmentSent>> sent;
        std::vector<store::StatusReport> made;
        records.reserve(kRecords);
        sent.reserve(kRecords);
        made.reserve(kRecords);
        for (std::size_t i = 0; i < kRecords; ++i) {
            const int reference = static_cast<int>(i % 256);
            records.push_back(MakePacket(Recipient(i), Time(i), "Message " + std::to_string(i)));
            sent.push_back({{reference, Time(i)}});
            store::StatusReport report;
            report.received = Time(i + 60);
            report.reference = reference;
            report.recipient = Recipient(i);
            report.discharged = Time(i + 50);
            report.status = i % 10 == 0 ? 0x45 : 0;
            made.push_back(std::move(report));
        }
        bench::Require(store::AppendSent(bench::Held(path), path, records, sent));
        bench::Require(store::AppendReports(bench::Held(store::ReportsPathBeside(path)),
                                            store::ReportsPathBeside(path), made));
        auto loaded = store::LoadSent(store::SentPathFor(path));
        bench::Require(loaded);
        entries = std::move(loaded->entries);
        auto kept = store::LoadReports(store::ReportsPathBeside(path));
        bench::Require(kept);
        reports = std::move(*kept);
    }
    velka::testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    std::vector<store::SentEntry> entries;
    std::vector<store::StatusReport> reports;
};

Outbox& Shared() {
    static Outbox outbox;
    return outbox;
}

// What the window does for each load of "Отправленные", the box's own listing aside.
void BM_LoadDeliveryStates(benchmark::State& state) {
    Outbox& outbox = Shared();
    for (auto _ : state) {
        const auto box = store::BoxFile::Open(outbox.path);
        const auto states = LoadDeliveryStates(outbox.path, *box);
        if (!states || states->by_record.size() != kRecords || states->unbelieved != 0)
            state.SkipWithError("the states did not load");
        benchmark::DoNotOptimize(DeliveryStateTexts(states->by_record));
    }
}
BENCHMARK(BM_LoadDeliveryStates)->Unit(benchmark::kMillisecond);

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
    const auto box = store::BoxFile::Open(outbox.path);
    for (auto _ : state)
        benchmark::DoNotOptimize(MatchReports(*box, outbox.entries, outbox.reports));
}
BENCHMARK(BM_MatchReports)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velka::messages

BENCHMARK_MAIN();
