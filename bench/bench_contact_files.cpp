// Importing a vCard file of 10,000 cards into an empty contact book: reading the
// file, sorting the rows against the book and writing them, one registry call per
// group. Beside it, what writing the same contacts one registry call each costs,
// which is why the import writes by groups.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "contact_files/contact_import.h"
#include "contact_files/vcard.h"
#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace velka::contact_files {
namespace {

constexpr int kGroups = 20;

std::vector<contacts::Contact> SampleContacts(int count) {
    std::vector<contacts::Contact> contacts;
    for (int i = 0; i < count; ++i) {
        contacts.push_back({codepage::FromUtf8("Абонент Иванов-Петров, номер ") + std::to_string(i),
                            "+7916" + std::to_string(1000000 + i),
                            codepage::FromUtf8("Группа ") + std::to_string(i % kGroups)});
    }
    return contacts;
}

// A fresh, empty registry file per measured import.
struct EmptyBook {
    testing::TempDir dir;
    Registry registry{dir.File("registry.db")};
    contacts::ContactBook book{registry};
};

void BM_ImportVCard(benchmark::State& state) {
    const std::string file = VCardsText(SampleContacts(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        state.PauseTiming();
        auto empty = std::make_unique<EmptyBook>();
        state.ResumeTiming();
        const ImportPlan plan = PlanImport(ParseVCards(file), "", empty->book);
        const ImportReport report = ApplyImport(plan, ExistingNumber::Skip, empty->book);
        if (report.stopped || report.imported != static_cast<std::size_t>(state.range(0)))
            bench::Stop("the import did not write every contact");
        state.PauseTiming();
        empty.reset();
        state.ResumeTiming();
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_ImportVCard)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteEachContact(benchmark::State& state) {
    const auto contacts = SampleContacts(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto empty = std::make_unique<EmptyBook>();
        state.ResumeTiming();
        for (const contacts::Contact& contact : contacts)
            bench::Require(empty->book.WriteContact(contact));
        state.PauseTiming();
        empty.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WriteEachContact)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velka::contact_files

BENCHMARK_MAIN();
