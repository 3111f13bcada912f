// The child of the kill test: a worker process over the program directory in
// VELKA_HOME, as the window or velka-sms-cli would run one, that sends what
// queue.db holds and ends once nothing is left. The kill test kills it at random
// moments; "done" on stdout says it finished undisturbed.
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "app/app_core.h"
#include "platform/program_dir.h"

int main() {
    std::mutex lock;
    std::condition_variable reported;
    bool changed = false;  // guarded by lock
    velka::app::WorkerEvents events;
    events.on_send = [&](std::uint64_t, velka::app::SendOutcome) {
        std::lock_guard guard(lock);
        changed = true;
        reported.notify_all();
    };
    velka::app::AppCore core(velka::ProgramDirectory());
    if (const auto started = core.Start(events); !started || !core.WorkerRunning()) {
        std::fprintf(stderr, "queue worker: no worker: %s\n",
                     started ? "no port or the modem is taken" : started.error().message.c_str());
        return 1;
    }
    // Records recorded at start-up need no send and report nothing: the count is
    // looked at again now and then as well as after every send.
    for (;;) {
        const auto waiting = core.QueuedCount();
        if (!waiting) {
            std::fprintf(stderr, "queue worker: %s\n", waiting.error().message.c_str());
            return 1;
        }
        if (*waiting == 0) break;
        std::unique_lock held(lock);
        reported.wait_for(held, std::chrono::milliseconds(500), [&] { return changed; });
        changed = false;
    }
    core.RequestStop();
    core.Shutdown();
    std::puts("done");
    return 0;
}
