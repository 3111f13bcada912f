// The main window's share of the HTTP API: served while [Gateway] Enabled was set at
// start-up, from the core's queue, like velka-sms-cli serve; its settings and token
// in the settings dialog.
#include "gateway/api_token.h"
#include "gui/config_form.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "platform/codepage.h"

namespace velka::gui {

app::WorkerEvents TMainForm::WithGatewayEvents(app::WorkerEvents events) {
    const gateway::GatewaySettings settings =
        gateway::ReadGatewaySettings(core_.FilePath(app::kConfigFile));
    if (!settings.enabled) return events;
    const auto token = gateway::LoadOrMakeToken(core_.ProgramDirectory());
    if (!token) {
        dialogs_.Warning(this, SystemTextToQt(token.error().message));
        return events;
    }
    api_server_ = std::make_unique<gateway::ApiServer>(
        core_, registry_,
        gateway::ServerOptions{settings.address, settings.port, *token,
                               gateway::kDefaultRequestsPerSecond});
    api_server_->Observe(events);
    return events;
}

void TMainForm::ServeGateway() {
    if (!api_server_) return;
    if (const Status listening = api_server_->Start(); !listening) {
        api_server_.reset();
        dialogs_.Warning(this, ToQt(codepage::FromUtf8("Доступ для других программ не открыт: ") +
                                    codepage::FromUtf8(listening.error().message)));
    }
}

void TMainForm::PrepareGatewayOptions() {
    gateway_shown_ = gateway::ReadGatewaySettings(core_.FilePath(app::kConfigFile));
    const auto token = gateway::LoadOrMakeToken(core_.ProgramDirectory());
    config_form_->PrepareGateway(
        gateway_shown_, token ? *token : std::string(), [this]() -> std::optional<std::string> {
            const auto renewed = gateway::RenewToken(core_.ProgramDirectory());
            if (!renewed) {
                dialogs_.Error(config_form_, SystemTextToQt(renewed.error().message));
                return std::nullopt;
            }
            if (api_server_) api_server_->SetToken(*renewed);
            return *renewed;
        });
}

// Written only when changed, so that Config.ini gains no section nobody set. The
// server starts, stops or moves at the next start, as a new port does.
void TMainForm::ApplyGatewayOptions() {
    const gateway::GatewaySettings chosen = config_form_->ChosenGateway();
    if (chosen == gateway_shown_) return;
    if (const Status kept = gateway::WriteGatewaySettings(core_.FilePath(app::kConfigFile), chosen);
        !kept)
        dialogs_.Error(this, SystemTextToQt(kept.error().message));
}

}  // namespace velka::gui
