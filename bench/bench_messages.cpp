// Searching messages: one keystroke of the search over 100,000 messages (the index
// built once, as when the boxes are opened), and building that index.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "messages/message_search.h"
#include "platform/codepage.h"
#include "store/store_file.h"
#include "tests/support/temp_dir.h"

namespace velka::messages {
namespace {

constexpr std::size_t kMessages = 100000;

// 90,000 received and 10,000 sent messages of about 60 Russian and Latin
// characters, from 5,000 numbers, 1,000 of them in the book.
struct Setting {
    Setting() {
        const std::string text =
            codepage::FromUtf8("Привет! Встречаемся в субботу у входа, сообщение ");
        for (const auto& [file, count] :
             {std::pair{"inbox.db", kMessages * 9 / 10}, std::pair{"outbox.db", kMessages / 10}}) {
            std::vector<packet> records;
            for (std::size_t i = 0; i < count; ++i) {
                records.push_back(MakePacket("+7916" + std::to_string(1000000 + i % 5000),
                                             "07.12.2026 12:00:00", text + std::to_string(i)));
            }
            bench::Require(store::Save(bench::Held(dir.File(file)), dir.File(file), records));
        }
        std::vector<contacts::Contact> contacts;
        for (int i = 0; i < 1000; ++i) {
            contacts.push_back(
                {"Contact " + std::to_string(i), "8916" + std::to_string(1000000 + i), "G"});
        }
        names = contacts::NumberNames(contacts);
    }
    velka::testing::TempDir dir;
    contacts::NumberNames names;
};

Setting& Shared() {
    static Setting setting;
    return setting;
}

store::JoinedBox Open(const std::string& path) {
    return std::move(*store::JoinedBox::Open(path));
}

void BM_BuildSearchIndex(benchmark::State& state) {
    Setting& setting = Shared();
    const store::JoinedBox inbox = Open(setting.dir.File("inbox.db"));
    const store::JoinedBox outbox = Open(setting.dir.File("outbox.db"));
    for (auto _ : state) {
        SearchIndex index(inbox, outbox, setting.names);
        benchmark::DoNotOptimize(index.size());
    }
}
BENCHMARK(BM_BuildSearchIndex)->Unit(benchmark::kMillisecond);

// Typing "встреча 99" one character at a time: each keystroke searches afresh.
void BM_SearchKeystroke(benchmark::State& state) {
    Setting& setting = Shared();
    const SearchIndex index(Open(setting.dir.File("inbox.db")), Open(setting.dir.File("outbox.db")),
                            setting.names);
    const std::string typed = codepage::FromUtf8("встреча 99");
    std::size_t length = 0;
    for (auto _ : state) {
        length = length % typed.size() + 1;
        benchmark::DoNotOptimize(index.Find(typed.substr(0, length)).size());
    }
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velka::messages

BENCHMARK_MAIN();
