// A bulk send with the main window open against the same send without it, in one run:
// records queued for the virtual modem, then the worker started, and the wall time
// until every record is in outbox.db. Three ways, taken in turns so that the
// machine's other load falls on each alike:
//   core    - the application core alone (as the console front end runs it);
//   window  - the main window offscreen, its status bar following the worker's
//             events and its one-second clock, the contact pane on view;
//   outbox  - the same with "Отправленные" on view, following every send.
// A harness that prints figures: bench_window_send [RECORDS] [ROUNDS]
#include <sys/resource.h>

#include <QApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "bench/bench_support.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka {
namespace {

using Clock = std::chrono::steady_clock;

enum class Way { Core, Window, Outbox };

const char* NameOf(Way way) {
    switch (way) {
        case Way::Core:
            return "core";
        case Way::Window:
            return "window";
        case Way::Outbox:
            return "outbox";
    }
    return "";
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figures {
    double wall = 0;
    double cpu = 0;
};

// One program directory with its modem and the records queued, not yet started.
class Setting {
  public:
    explicit Setting(int records) : records_(static_cast<std::uintmax_t>(records)) {
        ::setenv("VELKA_HOME", home_.path().c_str(), 1);
        modemsim::SimulatorOptions options{modemsim::DefaultNumbers(1), sim_dir_.path(), 20};
        options.registry = &Registry::Machine();
        auto started = modemsim::Simulator::Start(options);
        bench::Require(started);
        sim_ = std::move(*started);
        const std::string ini = home_.File("Config.ini");
        bench::Require(profile::WriteString(ini, "DEVICEMAP", "SerialPort", sim_->com_name(0)));
        bench::Require(profile::WriteString(ini, "DEVICEMAP", "PerformMailCheck", "0"));
        std::vector<packet> queued;
        for (int i = 0; i < records; ++i) {
            queued.push_back(MakePacket("+7916000" + std::to_string(1000 + i % 10),
                                        "07.12.2026 10:00:00", "record " + std::to_string(i)));
        }
        bench::Require(core_.Enqueue(queued));
    }
    app::AppCore& core() { return core_; }
    // Every record is in outbox.db: appending it there is the last step of its send.
    bool AllSent() const {
        std::error_code error;
        const auto size = std::filesystem::file_size(home_.File("outbox.db"), error);
        return !error && size == records_ * kPacketSize;
    }

  private:
    std::uintmax_t records_;
    testing::TempDir home_;
    testing::TempDir sim_dir_;
    std::unique_ptr<modemsim::Simulator> sim_;
    app::AppCore core_{home_.path()};
};

// The worker tells every send; the main thread sleeps until all are sent.
Figures SendWithoutWindow(Setting& setting) {
    std::mutex lock;
    std::condition_variable told;
    app::WorkerEvents events;
    events.on_send = [&](std::uint64_t, app::SendOutcome) {
        std::lock_guard guard(lock);
        told.notify_all();
    };
    const auto started = Clock::now();
    const double cpu_before = ProcessCpuSeconds();
    bench::Require(setting.core().Start(events));
    {
        std::unique_lock held(lock);
        told.wait(held, [&] { return setting.AllSent(); });
    }
    const Figures figures{std::chrono::duration<double>(Clock::now() - started).count(),
                          ProcessCpuSeconds() - cpu_before};
    setting.core().Shutdown();
    return figures;
}

// The window starts the worker itself; each send posts the window its refresh, which
// wakes this loop, and the status bar's one-second clock wakes it besides.
Figures SendWithWindow(Setting& setting, bool outbox_on_view) {
    gui::WindowDialogs dialogs;
    const auto started = Clock::now();
    const double cpu_before = ProcessCpuSeconds();
    gui::TMainForm window(dialogs, Registry::Machine(), setting.core());
    window.resize(900, 560);
    window.show();
    if (outbox_on_view) window.qmOutBoxClick();
    while (!setting.AllSent()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();  // the last refresh shown
    const Figures figures{std::chrono::duration<double>(Clock::now() - started).count(),
                          ProcessCpuSeconds() - cpu_before};
    window.close();
    return figures;
}

Figures Send(Way way, int records) {
    Setting setting(records);
    return way == Way::Core ? SendWithoutWindow(setting)
                            : SendWithWindow(setting, way == Way::Outbox);
}

}  // namespace
}  // namespace velka

int main(int argc, char** argv) {
    using velka::Way;
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    velka::testing::TempDir registry;
    ::setenv("VELKA_REGISTRY", registry.File("registry.db").c_str(), 1);
    QApplication application(argc, argv);
    for (int round = 1; round <= rounds; ++round) {
        for (const Way way : {Way::Core, Way::Window, Way::Outbox}) {
            const velka::Figures figures = velka::Send(way, records);
            std::printf(
                "round %d %-6s: %d records in %.2f s = %.0f records/s (process CPU %.2f s)\n",
                round, velka::NameOf(way), records, figures.wall, records / figures.wall,
                figures.cpu);
            std::fflush(stdout);
        }
    }
    return 0;
}
