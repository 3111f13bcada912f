// The child of the kill and two-process tests, over the program
// directory in VELKA_HOME:
//   worker_child once    one reception cycle, as velka-sms-cli receive runs it;
//   worker_child watch   the worker with reception on, as velka-sms-cli watch
//                        runs it, until its standard input ends;
//   worker_child send    the worker until queue.db holds nothing to send.
// "done" on stdout says it ended by itself.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "app/app_core.h"
#include "platform/program_dir.h"

namespace {

using velka::app::AppCore;

bool StartWorker(AppCore& core, velka::app::WorkerEvents events = {}) {
    if (const auto started = core.Start(std::move(events)); !started || !core.WorkerRunning()) {
        std::fprintf(stderr, "worker child: no worker\n");
        return false;
    }
    return true;
}

// Sends until nothing waits: woken by each send, and looking now and then, since
// records recorded at start-up report nothing.
bool SendAll(AppCore& core) {
    std::mutex lock;
    std::condition_variable reported;
    bool changed = false;  // guarded by lock
    velka::app::WorkerEvents events;
    events.on_send = [&](std::uint64_t, velka::app::SendOutcome) {
        std::lock_guard guard(lock);
        changed = true;
        reported.notify_all();
    };
    if (!StartWorker(core, std::move(events))) return false;
    for (;;) {
        const auto waiting = core.QueuedCount();
        if (!waiting) return false;
        if (*waiting == 0) return true;
        std::unique_lock held(lock);
        reported.wait_for(held, std::chrono::milliseconds(500), [&] { return changed; });
        changed = false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    AppCore core(velka::ProgramDirectory());
    if (mode == "once") {
        const auto received = core.ReceiveOnce();
        if (!received) {
            std::fprintf(stderr, "worker child: %s\n", received.error().message.c_str());
            return 1;
        }
    } else if (mode == "watch") {
        if (!StartWorker(core)) return 1;
        // The parent closes the pipe when it has seen enough.
        while (std::getchar() != EOF) {
        }
    } else if (mode == "send") {
        if (!SendAll(core)) return 1;
    } else {
        std::fprintf(stderr, "usage: worker_child once|watch|send\n");
        return 2;
    }
    core.RequestStop();
    core.Shutdown();
    std::puts("done");
    return 0;
}
