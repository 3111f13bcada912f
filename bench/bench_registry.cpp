// The registry stand-in's cost per call: the message reference counter (a read and
// a write per message sent) and a contact-book listing. Every write is one
// transaction flushed to the disk, so the figures depend on the disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace {

const std::string kKey = "\\SOFTWARE\\Velka\\ZEDOzadev";

// A registry file of its own in the temporary directory, removed afterwards.
class ScratchRegistry {
  public:
    ScratchRegistry() {
        char pattern[] = "/tmp/velka-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        registry_ = std::make_unique<velka::Registry>(dir_ + "/registry.db");
    }
    ~ScratchRegistry() {
        registry_.reset();
        std::filesystem::remove_all(dir_);
    }
    velka::Registry& operator*() { return *registry_; }

  private:
    std::string dir_;
    std::unique_ptr<velka::Registry> registry_;
};

void BM_MessageRefIncrement(benchmark::State& state) {
    ScratchRegistry registry;
    if (!(*registry).WriteDWord(kKey, "MessageRef", 0)) return state.SkipWithError("refused");
    for (auto _ : state) {
        const auto current = (*registry).ReadDWord(kKey, "MessageRef");
        if (!current || !(*registry).WriteDWord(kKey, "MessageRef", (*current + 1) & 0xFF)) {
            state.SkipWithError("refused");
            break;
        }
    }
}
BENCHMARK(BM_MessageRefIncrement);

void BM_ListGroupOf(benchmark::State& state) {
    ScratchRegistry registry;
    const std::string group = kKey + "\\Contacts\\Group";
    for (int i = 0; i < state.range(0); ++i) {
        if (!(*registry).WriteString(group, "+7916" + std::to_string(1000000 + i), "Name"))
            return state.SkipWithError("refused");
    }
    for (auto _ : state) {
        auto values = (*registry).Values(group);
        for (const auto& value : *values)
            benchmark::DoNotOptimize((*registry).ReadString(group, value.name));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListGroupOf)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
