// The program's entry: the application core, the main window, the settings dialog
// and the message loop.
#include <QApplication>
#include <exception>
#include <string>

#include "app/app_core.h"
#include "app/private_files.h"
#include "gui/config_form.h"
#include "gui/dialogs.h"
#include "gui/main_form.h"
#include "gui/qt_text.h"
#include "gui/translations.h"
#include "platform/program_dir.h"
#include "platform/registry.h"

namespace {

// Anything that escapes the start-up is shown in the standard error box; the
// program then ends normally. The window closes (and so stops the worker) before
// the core, which it uses, is destroyed.
int RunClient(velka::gui::Dialogs& dialogs) {
    try {
        velka::app::AppCore core(velka::ProgramDirectory());
        // Before the window reads or the worker writes any of the files.
        const std::string closed = velka::app::MakeClientFilesPrivate(core.ProgramDirectory());
        velka::gui::TMainForm window(dialogs, velka::Registry::Machine(), core);
        velka::gui::TConfigForm config_form(&window);
        window.UseConfigForm(config_form);
        window.show();
        if (!closed.empty()) dialogs.Warning(&window, velka::gui::ToQt(closed));
        return QApplication::exec();
    } catch (const std::exception& error) {
        dialogs.Error(nullptr, velka::gui::SystemTextToQt(error.what()));
    } catch (...) {
        dialogs.Error(nullptr, QString());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velka SMS Клиент Zevu"));
    velka::gui::InstallQtTranslations(application);
    velka::gui::WindowDialogs dialogs;
    RunClient(dialogs);
    return 0;
}
