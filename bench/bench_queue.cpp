// Queue-file costs: queuing one record and a hundred at once (one flush for them
// all), and the Confirmed note the worker writes after each "+CMGS:", whose time is
// most of the window in which a kill sends a message twice.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/queue_file.h"
#include "tests/support/temp_dir.h"

namespace velka::app {
namespace {

std::vector<QueuedRecord> Records(std::size_t count) {
    std::vector<QueuedRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        records[i].id = NewRecordId();
        records[i].record = MakePacket("+7999000" + std::to_string(i), "08.12.2026 12:00:00",
                                       "Message number " + std::to_string(i));
    }
    return records;
}

void BM_QueueRecordsInOneWrite(benchmark::State& state) {
    testing::TempDir dir;
    QueueFile file(dir.File("queue.db"));
    const auto records = Records(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!file.AppendRecords(records)) state.SkipWithError("append failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QueueRecordsInOneWrite)->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_NoteAConfirmation(benchmark::State& state) {
    testing::TempDir dir;
    QueueFile file(dir.File("queue.db"));
    auto records = Records(1);
    records[0].confirmed = records[0].segments = 1;
    if (!file.AppendRecords(records)) state.SkipWithError("append failed");
    for (auto _ : state) {
        if (!file.AppendConfirmed(records[0], 0)) state.SkipWithError("append failed");
    }
}
BENCHMARK(BM_NoteAConfirmation)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velka::app

BENCHMARK_MAIN();
