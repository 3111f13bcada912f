// The main window's USSD: "Сервис" → "USSD-запрос…".
#include "app/ussd_codes.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/ussd_form.h"

namespace velka::gui {

void TMainForm::mmUssdClick() {
    TUssdForm form(dialogs_, core_, core_.FilePath(app::kUssdCodesFile), this);
    form.OfferModems(ModemChoices(false));
    dialogs_.ShowModal(form);
}

}  // namespace velka::gui
