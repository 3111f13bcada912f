// The settings dialog: the modem's port and the reception check box, the modems of
// the pool, the balance check, the HTTP API and the limits of the SIM in the modem. It only holds
// the fields; the main window's qmOptionsClick fills it before each showing and applies what it
// hands back. Made once at start-up and reused.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/balance.h"
#include "app/port_offer.h"
#include "app/sim_limits.h"
#include "gateway/gateway_settings.h"
#include "platform/result.h"
#include "settings/config_apply.h"
#include "settings/pool_settings.h"
#include "settings/sim_settings.h"

class QComboBox;

namespace Ui {
class TConfigForm;
}

namespace velka::gui {

class TConfigForm final : public QDialog {
  public:
    // Centred on `parent` (the main window) when shown. UI thread only.
    explicit TConfigForm(QWidget* parent);
    ~TConfigForm() override;

    // One entry of the port list: what it shows and the port it puts in the field
    // (both Windows-1251).
    struct PortItem {
        std::string label;
        std::string port;
    };
    // Offers `ports` in the port list and sets both fields afresh, so nothing typed
    // into a dialog closed without "Применить" survives.
    void Prepare(const std::vector<PortItem>& ports, const settings::DialogSettings& shown);
    // Adds a port on which a modem answered, or one the user may not open, after
    // those offered so far, under its label; choosing it puts the port alone in the
    // field.
    void OfferPort(const app::AnsweringPort& answering);
    // The fields as they stand: the port text as typed or chosen, the check box.
    settings::DialogSettings Chosen() const;
    // The modems of the pool (Config.ini, sections [Modem N]), set afresh, the port
    // lists offering the ports the port field offers: `pool`'s first modem is the
    // first row, whose port is the port field's (shown, not edited, in the row:
    // one field, one truth); the later rows each have a port box of their own. An
    // empty pool (no port yet) shows the first row with its switches on. A pool
    // that could not be read shows its reason, and its rows are not offered for
    // change: what the user set is never written over unread.
    void PreparePool(const Result<std::vector<settings::PoolModem>>& pool);
    // The rows as they stand, the first row's port being the port field's text.
    std::vector<settings::PoolRow> ChosenPoolRows() const;
    // Asked when "Применить" is pressed: the dialog closes only when it answers
    // true, so that what it refuses can be mended where it was typed.
    void SetApplyCheck(std::function<bool()> check);
    // The balance check's fields (Config.ini, section [Balance]), set afresh and as
    // they stand; a threshold that is no amount is none.
    void PrepareBalance(const app::BalanceSettings& shown);
    app::BalanceSettings ChosenBalance() const;
    // The HTTP API's fields (Config.ini, section [Gateway]) and its token, shown
    // afresh; "Новый ключ" calls `renew`, which gives the new token to show (or
    // nothing when it could not be saved).
    void PrepareGateway(const gateway::GatewaySettings& shown, const std::string& token,
                        std::function<std::optional<std::string>()> renew);
    gateway::GatewaySettings ChosenGateway() const;
    // The limits of the SIM in the modem (Config.ini, section [SIM <key>]), its key
    // and its counts, set afresh. Without a SIM (nothing known yet), or with
    // settings that could not be read, the fields are off and the lines say why:
    // what the user set is never written over unread.
    void PrepareSimLimits(const std::optional<app::SimStanding>& sim);
    // The fields as they stand; the spin boxes' ranges keep every limit a whole
    // number from 0 (no limit) up.
    settings::SimSettings ChosenSimSettings() const;

  protected:
    void showEvent(QShowEvent* event) override;
    // A port box of the pool that takes the focus makes its row the current one,
    // the one "Удалить" removes.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void AddPoolRow(const settings::PoolRow& shown);
    QComboBox* MakePoolPortBox(const QString& port);
    QComboBox* PoolPortBox(int row) const;  // of a row after the first
    void UpdatePoolButtons();

    std::unique_ptr<Ui::TConfigForm> ui_;
    std::function<std::optional<std::string>()> renew_token_;  // from PrepareGateway
    std::function<bool()> apply_check_;                        // from SetApplyCheck
    QString pool_note_;  // the designed line under the pool, when it was read
};

}  // namespace velka::gui
