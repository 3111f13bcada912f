#include "gui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velka::gui {

QTranslator* InstallQtTranslations(QCoreApplication& application) {
    // Dates and numbers in Qt's own widgets (the file dialog's dates among them)
    // follow the language of the texts, whatever the system's locale is.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    // Owned by the application, which keeps it installed for its lifetime.
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

}  // namespace velka::gui
