#include <signal.h>

#include "tools/velka-sms-cli/console.h"

namespace velka::cli {
namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void CatchInterrupts() {
    // Blocked in every thread started later, so that only sigwait takes them.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WaitForInterrupt() {
    const sigset_t signals = StopSignals();
    int signal_number = 0;
    sigwait(&signals, &signal_number);
}

}  // namespace velka::cli
