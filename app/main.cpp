// The program's entry: the main window and the message loop.
#include <QApplication>
#include <exception>

#include "app/main_form.h"
#include "platform/registry.h"
#include "ui/dialogs.h"

namespace {

// Anything that escapes the start-up is shown in the standard error box; the
// program then ends normally.
int RunClient(velka::gui::Dialogs& dialogs) {
    try {
        velka::gui::TMainForm window(dialogs, velka::Registry::Machine());
        window.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        dialogs.Error(nullptr, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        dialogs.Error(nullptr, QString());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velka SMS Клиент Zevu"));
    velka::gui::WindowDialogs dialogs;
    RunClient(dialogs);
    return 0;
}
