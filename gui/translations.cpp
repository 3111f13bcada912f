#include "gui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velka::gui {

QTranslator* InstallQtTranslations(QCoreApplication& application) {
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
