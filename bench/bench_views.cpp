// The main window's costs as the user meets them: the window shown with a full
// contact book, a box of 100,000 records opened, the full listing of 10,000
// contacts, and one keystroke in the contact search. Runs offscreen.
//
// The registry stand-in lives on /dev/shm where there is one: filling it with
// 10,000 contacts costs 10,000 flushed transactions on a disk, which measures the
// disk and not the listings (those read only, from the page cache either way).
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "contacts/contact_book.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "store/store_file.h"
#include "tests/support/temp_dir.h"

namespace velka::gui {
namespace {

constexpr int kContacts = 10000;
constexpr int kGroups = 20;
constexpr std::size_t kBoxRecords = 100000;

// One program directory and registry for every benchmark, filled once.
struct Setting {
    Setting() {
        ::setenv("VELKA_HOME", home.path().c_str(), 1);
        contacts::ContactBook book(registry);
        for (int i = 0; i < kContacts; ++i)
            bench::Require(
                book.WriteContact({"Contact " + std::to_string(i), "+7900" + std::to_string(i),
                                   "Group " + std::to_string(i % kGroups)}));
        std::vector<packet> records;
        records.reserve(kBoxRecords);
        for (std::size_t i = 0; i < kBoxRecords; ++i)
            records.push_back(MakePacket("+7999000" + std::to_string(i), "07.12.2026 12:00:00",
                                         "Message number " + std::to_string(i)));
        bench::Require(
            store::Save(bench::Held(home.File("inbox.db")), home.File("inbox.db"), records));
    }
    velka::testing::TempDir home;
    Registry registry{home.File("registry.db")};
    WindowDialogs dialogs;
};

Setting& Shared() {
    static Setting setting;
    return setting;
}

void BM_WindowShown(benchmark::State& state) {
    Setting& setting = Shared();
    for (auto _ : state) {
        app::AppCore core(setting.home.path());
        TMainForm window(setting.dialogs, setting.registry, core);
        window.show();
        QApplication::processEvents();  // laid out and painted
    }
}
BENCHMARK(BM_WindowShown)->Unit(benchmark::kMillisecond);

void BM_OpenBoxOf100000(benchmark::State& state) {
    Setting& setting = Shared();
    app::AppCore core(setting.home.path());
    TMainForm window(setting.dialogs, setting.registry, core);
    window.show();
    for (auto _ : state) {
        window.qmInBoxClick();
        QApplication::processEvents();
        state.PauseTiming();
        window.qmContactsClick();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenBoxOf100000)->Unit(benchmark::kMillisecond);

void BM_FullListingOf10000(benchmark::State& state) {
    Setting& setting = Shared();
    app::AppCore core(setting.home.path());
    TMainForm window(setting.dialogs, setting.registry, core);
    window.show();
    QAction* search = window.findChild<QAction*>("actSearch");
    for (auto _ : state) {
        state.PauseTiming();
        search->trigger();  // shown
        state.ResumeTiming();
        search->trigger();  // hidden: the full listing into the view
        QApplication::processEvents();
    }
}
BENCHMARK(BM_FullListingOf10000)->Unit(benchmark::kMillisecond);

// Typing "Contact 12" one character at a time, then erasing it: every change
// refills the list from the registry.
void BM_SearchKeystroke(benchmark::State& state) {
    Setting& setting = Shared();
    app::AppCore core(setting.home.path());
    TMainForm window(setting.dialogs, setting.registry, core);
    window.show();
    window.findChild<QAction*>("actSearch")->trigger();
    auto* name = window.findChild<QLineEdit*>("NameToSearch");
    const QString typed = QStringLiteral("Contact 12");
    int length = 0;
    for (auto _ : state) {
        length = (length + 1) % (typed.size() + 1);
        name->setText(typed.left(length));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velka::gui

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::filesystem::is_directory("/dev/shm") && !std::getenv("TMPDIR"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
