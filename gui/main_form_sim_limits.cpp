// The main window's share of the SIM's limits: the settings dialog shows those of
// the SIM in the modem, with its counts, and saves them through the core, which
// wakes the records the old limits held.
#include "gui/config_form.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"

namespace velka::gui {

void TMainForm::PrepareSimLimitsOptions() {
    const std::optional<app::SimStanding> sim = core_.CurrentSim();
    sim_key_shown_ = sim ? sim->key : std::string();
    sim_shown_.reset();
    if (sim && sim->settings) sim_shown_ = *sim->settings;
    config_form_->PrepareSimLimits(sim);
}

// Written only when changed, so that Config.ini gains no section nobody set; and
// never when the dialog could not show what was there.
void TMainForm::ApplySimLimitsOptions() {
    if (!sim_shown_) return;
    const settings::SimSettings chosen = config_form_->ChosenSimSettings();
    if (chosen == *sim_shown_) return;
    if (const Status kept = core_.SaveSimSettings(sim_key_shown_, chosen); !kept)
        dialogs_.Error(this, SystemTextToQt(kept.error().message));
}

}  // namespace velka::gui
