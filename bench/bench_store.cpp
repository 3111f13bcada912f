// Store-file costs: appending one record to a small and to a large file (the cost
// must not grow with the file), and listing a large box as the views do.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/files.h"
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
    if (Save(path, Filler(static_cast<std::size_t>(state.range(0))))) return true;
    state.SkipWithError("cannot create the store file");
    return false;
}

void BM_AppendOneRecord(benchmark::State& state) {
    testing::TempDir dir;
    const std::string path = dir.File("outbox.db");
    if (!MakeBox(state, path)) return;
    const std::vector<packet> one = Filler(1);
    for (auto _ : state) {
        if (!Append(path, one)) state.SkipWithError("append failed");
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

}  // namespace
}  // namespace velka::store

BENCHMARK_MAIN();
