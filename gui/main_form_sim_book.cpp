// The import of the SIM's phone book into the contact book.
#include <QAction>

#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "platform/codepage.h"
#include "ui_main_form.h"

namespace velka::gui {

namespace {

// The entries as rows of an import: named by their place on the SIM in the report,
// the name in the program's code page ("?" for what it lacks, as a file's names),
// the number as people dial it, no group.
contact_files::ParsedFile SimRows(const std::vector<modem::PhoneBookEntry>& entries) {
    contact_files::ParsedFile parsed;
    for (const modem::PhoneBookEntry& entry : entries) {
        parsed.rows.push_back({codepage::FromUtf8("Запись ") + std::to_string(entry.index),
                               {codepage::FromUtf8(entry.name), entry.Dialled(), {}}});
    }
    return parsed;
}

}  // namespace

void TMainForm::mmImportSimContactsClick() {
    ui_->mmImportSimContacts->setEnabled(false);
    app::ReadSimPhoneBook(core_, [this](app::SimPhoneBook read) {
        PostToWindow([this, read = std::move(read)] { SimPhoneBookRead(read); });
    });
}

void TMainForm::SimPhoneBookRead(const app::SimPhoneBook& read) {
    ui_->mmImportSimContacts->setEnabled(true);
    if (!read) {
        dialogs_.Error(this, ToQt(read.error().message));
        return;
    }
    if (read->empty()) {
        dialogs_.Warning(this, QStringLiteral("На SIM-карте нет контактов."));
        return;
    }
    ImportParsed(SimRows(*read), contact_files::ImportSource::Sim);
}

}  // namespace velka::gui
