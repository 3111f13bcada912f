#include "webhooks/webhook_service.h"

#include "app/app_core.h"
#include "platform/program_dir.h"

namespace velka::webhooks {

inline constexpr char kEventsFile[] = "events.db";

WebhookService::WebhookService(const std::string& program_directory,
                               std::function<void()> failing_changed, DeliveryTiming timing)
    : hooks_(ReadHooks(InDirectory(program_directory, app::kConfigFile),
                       InDirectory(program_directory, kSecretsFile))),
      journal_(InDirectory(program_directory, kEventsFile)),
      delivery_(journal_, hooks_, timing, std::move(failing_changed)),
      recorder_(
          journal_, [this](const StoredEvent& stored) { return EveryHookDone(hooks_, stored); },
          [this] { delivery_.Wake(); }) {}

WebhookService::~WebhookService() {
    delivery_.Stop();
}

// With no hooks set nothing is kept: events.db is neither made nor written.
void WebhookService::Begin() {
    if (hooks_.empty()) return;
    recorder_.Begin();
    if (started_) return;
    started_ = true;
    delivery_.Start();
}

Status WebhookService::Received(const std::vector<std::string>& pdus) {
    if (hooks_.empty()) return {};
    return recorder_.Received(pdus);
}

Status WebhookService::Sent(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Sent(records);
}

Status WebhookService::Unsendable(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Unsendable(records);
}

void WebhookService::ModemStateChanged(const modem::ModemStatus& status) {
    if (!started_) return;
    const std::string tries =
        status.tries_left >= 0 ? "tries_left=" + std::to_string(status.tries_left) : "";
    if (journal_.Append({ModemStateEvent(ModemStateWord(status.state), tries, NowMs())}))
        delivery_.Wake();
}

std::vector<std::string> WebhookService::FailingHooks() const {
    return delivery_.FailingHooks();
}

std::string ModemStateWord(modem::ModemState state) {
    switch (state) {
        case modem::ModemState::Unknown:
            return "unknown";
        case modem::ModemState::Ready:
            return "ready";
        case modem::ModemState::NotAnswering:
            return "not_answering";
        case modem::ModemState::PortMissing:
            return "port_missing";
        case modem::ModemState::PortDenied:
            return "port_denied";
        case modem::ModemState::PinNeeded:
            return "pin_needed";
        case modem::ModemState::PinRefused:
            return "pin_refused";
        case modem::ModemState::PukNeeded:
            return "puk_needed";
        case modem::ModemState::PhoneLocked:
            return "phone_locked";
        case modem::ModemState::NoSim:
            return "no_sim";
        case modem::ModemState::SimFailure:
            return "sim_failure";
    }
    return "unknown";
}

}  // namespace velka::webhooks
