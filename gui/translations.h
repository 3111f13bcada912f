// Qt's own texts in Russian: the standard buttons, the edit fields' context menus,
// the file dialogs. The texts the program sets itself (among them the "Warning" and
// "Confirm" boxes with their "OK" and "&No") are not touched. UI thread, before the
// first window.
#pragma once

class QCoreApplication;
class QTranslator;

namespace velka::gui {

// Installs Qt's Russian translations (Debian: qt6-translations-l10n) from Qt's
// translations folder and gives the translator, owned by `application`. Nothing
// when they are not installed; Qt's English texts stay. Qt's dates and numbers take
// the Russian form either way.
QTranslator* InstallQtTranslations(QCoreApplication& application);

}  // namespace velka::gui
