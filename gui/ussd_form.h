// "Сервис" → "USSD-запрос…": a code typed or picked from those used before, the
// network's answer as it came, a question of the network answered in the same
// window, and the session ended on the network by "Завершить сеанс" or by closing.
// Each request is an errand on the modem (app/errand.h); its answer comes back to
// this window's thread. UI thread only.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

#include "app/app_core.h"
#include "gui/modem_choice.h"

namespace Ui {
class TUssdForm;
}

namespace velka::gui {

class Dialogs;

class TUssdForm final : public QDialog {
  public:
    // `codes_path` keeps the codes used before (app/ussd_codes.h). `dialogs` and
    // `core` must outlive the form.
    TUssdForm(Dialogs& dialogs, app::AppCore& core, std::string codes_path, QWidget* parent);
    // Ends a session the network holds open, now or once its answer comes.
    ~TUssdForm() override;
    // With two modems or more, the window asks through the one picked (the first
    // at the start); a session stays on the modem it began on.
    void OfferModems(const std::vector<ModemChoice>& modems);

    void SendButtonClick();
    void ReplyButtonClick();
    void EndButtonClick();

  protected:
    void reject() override;

  private:
    // What one request shares with its errand: set when nobody is left to answer
    // the network, so that a question that comes then ends the session.
    struct Pending {
        std::atomic<bool> abandoned{false};
    };
    void FillCodes();
    void Ask(const QString& request);
    // The answer to `request`, or why it could not be asked; nothing for one given up.
    void Answered(const Pending& request, const modem::UssdAnswer& answer);
    void Failed(const Pending& request, const QString& why);
    void EndSession();
    void ShowState(const QString& text);

    Dialogs& dialogs_;
    app::AppCore& core_;
    std::string codes_path_;
    std::unique_ptr<Ui::TUssdForm> ui_;
    std::vector<std::string> modem_vias_;  // by ModemCombo's index
    std::string session_via_;              // the modem the session runs on; empty: the first
    std::shared_ptr<Pending> pending_;     // the request awaiting its answer; null when none
    bool session_open_ = false;            // the network asked and waits for a reply
};

}  // namespace velka::gui
