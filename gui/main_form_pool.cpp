// The main window's share of the pool of modems: the settings dialog lists the
// modems of Config.ini and writes the list back. The workers start from it, so a
// change takes effect at the next start, as a new port does.
#include "gui/config_form.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "settings/startup_settings.h"

namespace velka::gui {
namespace {

// The pool as WritePoolModems keeps it: the first modem's port is the port
// field's, written with that field.
std::vector<settings::PoolModem> WithoutFirstPort(std::vector<settings::PoolModem> pool) {
    if (!pool.empty()) pool.front().port = 0;
    return pool;
}

}  // namespace

// Read with the port in use, which the port field shows, or else the stored one:
// a pool set up while the program ran without a port is still shown.
void TMainForm::PreparePoolOptions() {
    const std::string ini = core_.FilePath(app::kConfigFile);
    std::int32_t first_port = core_.PortNumber();
    if (first_port == 0) {
        // A stored port that does not convert is start-up's to tell; no pool is shown then.
        const auto stored = settings::ReadSerialPort(ini, settings::kSection);
        if (stored) first_port = *stored;
    }
    const auto pool = settings::ReadPoolModems(ini, first_port);
    config_form_->PreparePool(pool);
    config_form_->SetApplyCheck([this] { return CheckedPool(config_form_).has_value(); });
    pool_shown_.reset();
    // The dialog shows a pool without modems as the first modem with its switches on.
    if (pool)
        pool_shown_ =
            WithoutFirstPort(pool->empty() ? std::vector<settings::PoolModem>{{}} : *pool);
}

std::optional<std::vector<settings::PoolModem>> TMainForm::CheckedPool(QWidget* parent) {
    auto chosen = settings::ChosenPool(config_form_->ChosenPoolRows());
    if (chosen) return std::move(*chosen);
    dialogs_.Warning(parent, ToQt(chosen.error().message));
    return std::nullopt;
}

// Written only when changed, so that Config.ini gains no section nobody set; and
// never when the dialog could not show what was there.
void TMainForm::ApplyPoolOptions() {
    if (!pool_shown_) return;
    const auto chosen = CheckedPool(this);
    if (!chosen || WithoutFirstPort(*chosen) == *pool_shown_) return;
    if (const Status kept = settings::WritePoolModems(core_.FilePath(app::kConfigFile), *chosen);
        !kept)
        dialogs_.Error(this, SystemTextToQt(kept.error().message));
}

}  // namespace velka::gui
