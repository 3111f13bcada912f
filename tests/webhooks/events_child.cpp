// The child of the events' kill test, over the program directory in VELKA_HOME:
// the worker with reception on and the webhooks of Config.ini, as the window runs
// them (events recorded in events.db before each delete on the modem, posted by the
// delivery thread), until its standard input ends. "done" on stdout says it ended
// by itself.
#include <cstdio>

#include "app/app_core.h"
#include "platform/program_dir.h"
#include "webhooks/webhook_service.h"

int main() {
    const std::string home = velka::ProgramDirectory();
    velka::app::AppCore core(home);
    // Made before the core starts and ended after it shut down, as the window does:
    // the worker records through it until it is joined.
    velka::webhooks::WebhookService hooks(home, {});
    core.SetEventRecorder(hooks);
    if (const auto started = core.Start({}); !started || !core.WorkerRunning()) {
        std::fprintf(stderr, "events child: no worker\n");
        return 1;
    }
    // The parent closes the pipe when it has seen enough.
    while (std::getchar() != EOF) {
    }
    core.RequestStop();
    core.Shutdown();
    std::puts("done");
    return 0;
}
