// The port selection dialog that the serial port component shows when it is asked
// to open without a port number and may prompt for one. The list logic (which
// ports exist, the number of an entry) is the component's own (ser_selcom.h).
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/ser_port.h"
#include "serial/ser_selcom.h"

namespace Ui {
class TComSelectForm;
}

namespace velka::gui {

class Dialogs;

class TComSelectForm final : public QDialog {
  public:
    // Lists `ports` ("COM1", ...) and selects the first. Centred on the screen.
    explicit TComSelectForm(const std::vector<std::string>& ports, QWidget* parent = nullptr);
    ~TComSelectForm() override;

    // The selected entry's text and number; empty and 0 when the list is empty.
    std::string SelectedCom() const;
    std::uint16_t SelectedComNum() const;

  private:
    std::unique_ptr<Ui::TComSelectForm> ui_;
};

// The component's port selector: lists the ports from 1 to 50 that `available`
// finds, shows the dialog modally through `dialogs` (which must outlive the
// selector) and gives the chosen number; nothing on Cancel, the close box, or OK
// with no port to choose. UI thread only.
TPortSelector MakePortSelector(Dialogs& dialogs,
                               std::function<bool(std::uint16_t)> available = IsPortAvailable);

}  // namespace velka::gui
