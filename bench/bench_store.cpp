// Store-file costs: appending one record to a small and to a large file (the cost
// must not grow with the file), listing a large box as the views do, and opening a
// box of long messages' parts as joined messages.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/files.h"
#include "store/joined_box.h"
#include "store/store_file.h"
#include "tests/support/temp_dir.h"

namespace velka::store {
namespace {

std::vector<packet> Filler(std::size_t count) {
    std::vector<packet> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        records.push_back(MakePacket("+7999000" + std::to_string(i), "07.12.2026 12:00:00",
                                     "Message number " + std::to_string(i)));
    return records;
}

// A store file of state.range(0) records; false, with the benchmark skipped, when
// it cannot be made.
bool MakeBox(benchmark::State& state, const std::string& path) {
    if (Save(bench::Held(path), path, Filler(static_cast<std::size_t>(state.range(0)))))
        return true;
    state.SkipWithError("cannot create the store file");
    return false;
}

void BM_AppendOneRecord(benchmark::State& state) {
    testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    if (!MakeBox(state, path)) return;
    const std::vector<packet> one = Filler(1);
    for (auto _ : state) {
        if (!Append(bench::Held(path), path, one)) state.SkipWithError("append failed");
    }
}
BENCHMARK(BM_AppendOneRecord)->Arg(10)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Opening a box and reading every record's three columns, as a view that shows them all.
void BM_ListBox(benchmark::State& state) {
    testing::TempDir dir;
    const std::string path = dir.File("inbox.db");
    if (!MakeBox(state, path)) return;
    for (auto _ : state) {
        auto box = BoxFile::Open(path);
        std::size_t characters = 0;
        for (std::size_t i = 0; i < box->size(); ++i) {
            const packet record = box->at(i);
            characters += record.number_text().size() + record.datetime_text().size() +
                          record.text_text().size();
        }
        benchmark::DoNotOptimize(characters);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListBox)->Arg(100000)->Unit(benchmark::kMillisecond);

// Resident anonymous memory of the process now, in kB (Linux): the heap and
// stacks, without the pages of mapped files (the store file's pages are page cache).
long ResidentAnonymousKb() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "RssAnon:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
    }
    return 0;
}

// A received box of `parts` records, every one a part of a three-part message from
// one of 1,000 senders, the parts of each message arriving in the order 2, 1, 3;
// written in slices so that making it costs little memory.
bool MakePartsBox(const std::string& path, std::size_t parts) {
    constexpr std::size_t kSlice = 30000;  // whole messages
    for (std::size_t start = 0; start < parts; start += kSlice) {
        std::vector<packet> records;
        std::vector<std::optional<PartFacts>> facts;
        for (std::size_t i = start; i < std::min(parts, start + kSlice); ++i) {
            const std::size_t message = i / 3;
            const auto number = static_cast<std::uint8_t>(i % 3 == 0 ? 2 : i % 3 == 1 ? 1 : 3);
            records.push_back(
                MakePacket("+7999" + std::to_string(message % 1000), "07.12.2026 12:00:00",
                           "Part " + std::to_string(number) + " of " + std::to_string(message)));
            facts.push_back(
                PartFacts{static_cast<std::uint16_t>(message / 1000 % 256), 8, 3, number});
        }
        if (!AppendReceived(bench::Held(path), path, records, facts)) return false;
    }
    return true;
}

// Opening the box as the views do (store file mapped, parts file read, parts
// joined) and reading the first row: without the joining index (the first opening,
// or one after a removal, which joins every part and writes the index) or with it
// (every later opening, records appended since joined on top of it).
void OpenJoinedBox(benchmark::State& state, bool indexed) {
    testing::TempDir dir;
    const std::string path = dir.File("inbox.db");
    if (!MakePartsBox(path, static_cast<std::size_t>(state.range(0)))) {
        state.SkipWithError("cannot create the store file");
        return;
    }
    if (indexed && !JoinedBox::Open(path)) state.SkipWithError("not joined");
    const long before = ResidentAnonymousKb();
    long held = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        if (!indexed) {
            state.PauseTiming();
            std::remove(JoinedIndexPathFor(path).c_str());
            state.ResumeTiming();
        }
        const auto box = JoinedBox::Open(path);
        if (!box || box->at(0).missing != 0) state.SkipWithError("not joined");
        rows = box->size();
        held = std::max(held, ResidentAnonymousKb() - before);
    }
    state.counters["messages"] = static_cast<double>(rows);
    // What an open box holds besides the mapped file (the joining's own peak is freed).
    state.counters["heap_held_MB"] = static_cast<double>(held) / 1024;
}
void BM_OpenJoinedBox(benchmark::State& state) {
    OpenJoinedBox(state, false);
}
void BM_OpenIndexedJoinedBox(benchmark::State& state) {
    OpenJoinedBox(state, true);
}
BENCHMARK(BM_OpenIndexedJoinedBox)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenJoinedBox)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velka::store

BENCHMARK_MAIN();
