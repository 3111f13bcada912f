#include "webhooks/webhook_service.h"

namespace velka::webhooks {

// The keeping wakes the delivery, made after it: no event is recorded before Begin.
WebhookService::WebhookService(const std::string& program_directory,
                               std::function<void()> failing_changed, DeliveryTiming timing)
    : keeping_(program_directory, [this] { delivery_.Wake(); }),
      delivery_(keeping_.journal(), keeping_.hooks(), timing, std::move(failing_changed)) {}

WebhookService::~WebhookService() {
    delivery_.Stop();
}

// With no hooks set nothing is kept: events.db is neither made nor written.
void WebhookService::Begin() {
    keeping_.Begin();
    if (keeping_.hooks().empty() || started_) return;
    started_ = true;
    delivery_.Start();
}

void WebhookService::ModemStateChanged(const modem::ModemStatus& status) {
    if (!started_) return;
    const std::string tries =
        status.tries_left >= 0 ? "tries_left=" + std::to_string(status.tries_left) : "";
    if (keeping_.journal().Append({ModemStateEvent(ModemStateWord(status.state), tries, NowMs())}))
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
