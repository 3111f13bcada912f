#include "app/app_core.h"

#include "modem/dialogue.h"
#include "platform/registry.h"
#include "serial/ser_except.h"
#include "settings/startup_settings.h"

namespace velka::app {

AppCore::AppCore(std::string program_directory) : directory_(std::move(program_directory)) {
    port_.SetStopFlag(&stop_);
    modem::ConfigurePort(port_);
}

AppCore::~AppCore() { Shutdown(); }

Status AppCore::Start(WorkerEvents events) {
    settings::StartupSettings settings;
    const Status read = settings::ReadStartupSettings(FilePath(kConfigFile), settings);
    reception_.store(settings.reception);
    if (!read) return read;
    if (settings.port == 0) return {};
    port_.SetComNumber(static_cast<std::uint16_t>(settings.port));
    worker_ = std::make_unique<Worker>(
        port_, queue_, stop_, reception_,
        WorkerFiles{FilePath(kInboxFile), FilePath(kOutboxFile), FilePath(kUnsentFile)},
        Registry::Machine(), std::move(events));
    worker_->Start();
    return {};
}

std::uint64_t AppCore::Enqueue(const packet& record) { return queue_.Append(record); }

void AppCore::RequestStop() {
    stop_.store(true);
    queue_.Wake();
}

void AppCore::Shutdown() {
    RequestStop();
    if (worker_) worker_->Join();
    try {
        port_.SetOpen(false);
    } catch (const ESerialException&) {
        // A device that vanished has nothing left to close.
    }
    std::lock_guard guard(queue_.lock());
    queue_.Clear();
}

}  // namespace velka::app
