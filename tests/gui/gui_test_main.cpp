// The main of the GUI test programs: a widget application on the platform CMake
// chose (offscreen), and, as for every test program, a program directory and
// registry file of its own; Qt speaks Russian, and every window is checked for
// Latin captions and buttons as it opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui/translations.h"
#include "tests/gui/russian_only.h"
#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velka::testing::TempDir home;
    ::setenv("VELKA_HOME", home.path().c_str(), 1);
    ::setenv("VELKA_REGISTRY", home.File("registry.db").c_str(), 1);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velka SMS Клиент Zevu"));
    // As the program starts, so that every test sees the texts its user reads.
    velka::gui::InstallQtTranslations(application);
    const velka::gui::testing::RussianOnlyWatch russian_only;
    return RUN_ALL_TESTS();
}
