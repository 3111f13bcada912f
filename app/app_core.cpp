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

AppCore::~AppCore() {
    Shutdown();
}

Result<std::int32_t> AppCore::ReadSettings() {
    settings::StartupSettings settings;
    const Status read = settings::ReadStartupSettings(FilePath(kConfigFile), settings);
    reception_.store(settings.reception);
    if (!read) return read.error();
    return settings.port;
}

Status AppCore::Start(WorkerEvents events) {
    const auto port = ReadSettings();
    if (!port) return port.error();
    if (*port == 0) return {};
    if (*port < 0 || *port > 0xFFFF) {
        return Error{"There is no serial port COM" + std::to_string(*port) + "."};
    }
    port_.SetComNumber(static_cast<std::uint16_t>(*port));
    worker_ = std::make_unique<Worker>(
        port_, queue_, stop_, reception_,
        WorkerFiles{FilePath(kInboxFile), FilePath(kOutboxFile), FilePath(kUnsentFile)},
        Registry::Machine(), std::move(events));
    if (pin_) worker_->SetPin(*pin_);
    worker_->Start();
    return {};
}

Status AppCore::InitOnce(modem::ModemContext& context) {
    const auto port = ReadSettings();
    if (!port) return port.error();
    if (*port <= 0 || *port > 0xFFFF) {
        return Error{
            "No serial port is set: put SerialPort=COM<number> in section [DEVICEMAP] of " +
            FilePath(kConfigFile) + "."};
    }
    port_.SetComNumber(static_cast<std::uint16_t>(*port));
    context.pin = pin_;
    if (!modem::InitModem(port_, stop_, &context) &&
        context.status.state == modem::ModemState::Unknown) {
        return Error{"The modem on COM" + std::to_string(*port) +
                     " does not answer, or the port cannot be opened."};
    }
    return {};
}

Result<modem::ReceptionReport> AppCore::ReceiveOnce() {
    modem::ModemContext context;
    if (const Status opened = InitOnce(context); !opened) return opened.error();
    if (context.status.state != modem::ModemState::Ready) {
        return Error{ModemStateText(context.status)};
    }
    modem::StoredNotDeleted remembered;
    auto report =
        modem::ReceiveAll(port_, FilePath(kInboxFile), queue_.lock(), stop_, remembered, context);
    if (!report.listed) {
        return Error{"The modem on COM" + std::to_string(port_.ComNumber()) +
                     " did not list its messages."};
    }
    auto direct =
        modem::StoreDeliveries(port_, FilePath(kInboxFile), queue_.lock(), stop_, context);
    for (packet& record : direct.stored) report.stored.push_back(std::move(record));
    for (auto& status_report : direct.reports) report.reports.push_back(std::move(status_report));
    if (report.saved && !direct.saved) report.saved = direct.saved;
    report.unsaved += direct.unsaved;
    if (!report.saved) {
        return Error{report.saved.error().message + ". " + std::to_string(report.unsaved) +
                     " message(s) stay on the modem until they can be saved."};
    }
    return report;
}

Result<modem::ModemContext> AppCore::ProbeOnce() {
    modem::ModemContext context;
    if (const Status opened = InitOnce(context); !opened) return opened.error();
    return context;
}

void AppCore::SetPin(std::string pin) {
    pin_ = pin;
    if (worker_) worker_->SetPin(std::move(pin));
}

std::uint64_t AppCore::Enqueue(const packet& record) {
    return queue_.Append(record);
}

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
    MutexLock guard(queue_.lock());
    queue_.Clear();
}

}  // namespace velka::app
