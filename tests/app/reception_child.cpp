// The child of the reception kill and two-process tests, over the program
// directory in VELKA_HOME:
//   reception_child once    one reception cycle, as velka-sms-cli receive runs it;
//   reception_child watch   the worker with reception on, as velka-sms-cli watch
//                           runs it, until its standard input ends.
// "done" on stdout says it ended by itself.
#include <cstdio>
#include <string_view>

#include "app/app_core.h"
#include "platform/program_dir.h"

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    velka::app::AppCore core(velka::ProgramDirectory());
    if (mode == "once") {
        const auto received = core.ReceiveOnce();
        if (!received) {
            std::fprintf(stderr, "reception child: %s\n", received.error().message.c_str());
            return 1;
        }
    } else if (mode == "watch") {
        if (const auto started = core.Start(); !started || !core.WorkerRunning()) {
            std::fprintf(stderr, "reception child: no worker\n");
            return 1;
        }
        // The parent closes the pipe when it has seen enough.
        while (std::getchar() != EOF) {
        }
        core.RequestStop();
        core.Shutdown();
    } else {
        std::fprintf(stderr, "usage: reception_child once|watch\n");
        return 2;
    }
    std::puts("done");
    return 0;
}
