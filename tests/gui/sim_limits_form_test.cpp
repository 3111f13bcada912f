// The limits of the SIM in the modem in the settings dialog: shown with the SIM's
// key and its counts, saved into its own section of Config.ini, never written over
// when they could not be read, and off while no SIM is known.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/sim_limits.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "settings/sim_settings.h"
#include "store/sim_counters_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"
#include "tests/modem/sim_fixture.h"

namespace velka::gui::testing {
namespace {

using ::velka::testing::Eventually;

constexpr char kSim[] = "89701990000000000017";

// The spin boxes of the limits, in the order of the dialog.
constexpr const char* kLimitBoxes[] = {"SimPerHourBox", "SimPerDayBox", "SimRecipientsPerDayBox",
                                       "SimRecipientsPerMonthBox", "SimPauseBox"};

void Options(TMainForm& window, ScriptedDialogs& dialogs,
             const std::function<int(QDialog&)>& script) {
    dialogs.AnswerForm(script);
    window.findChild<QToolButton*>("qmOptions")->click();
}

TEST_F(MainFormTest, WithNoSimKnownTheLimitsAreOffAndNothingIsWrittenForThem) {
    Window().show();
    Options(Window(), dialogs_, [&](QDialog& form) -> int {
        EXPECT_EQ(In<QLabel>(form, "SimKeyLabel")->text(),
                  "SIM-карта ещё не известна: модем не опрошен.");
        EXPECT_FALSE(In<QLineEdit>(form, "SimNameEdit")->isEnabled());
        for (const char* box : kLimitBoxes) EXPECT_FALSE(In<QSpinBox>(form, box)->isEnabled());
        return QDialog::Accepted;
    });
    const auto ini = files::ReadAll(home_.File("Config.ini"));
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->find("[SIM"), std::string::npos) << *ini;
}

class SimLimitsFormTest : public ::testing::Test {
  protected:
    // The window uses the machine registry, where the virtual modems are registered.
    SimLimitsFormTest() {
        ::setenv("VELKA_HOME", home_.path().c_str(), 1);
        modems_.Control(std::string("identity 1 iccid ") + kSim);
    }

    // Starts the window on the first modem, receiving so that the worker reads the
    // modem at once, and waits until the core knows its SIM.
    void Start() {
        ASSERT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", "SerialPort", modems_.ComName(1)));
        ASSERT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", "PerformMailCheck", "1"));
        window_ = std::make_unique<TMainForm>(dialogs_, Registry::Machine(), core_);
        config_form_ = std::make_unique<TConfigForm>(window_.get());
        window_->UseConfigForm(*config_form_);
        window_->show();
        ASSERT_TRUE(Eventually([&] { return core_.CurrentSimKey() == kSim; }));
    }
    std::string Ini() const { return home_.File("Config.ini"); }
    std::string Stored(std::string_view key) {
        return profile::ReadString(Ini(), settings::SimSection(kSim), key, "<missing>");
    }

    velka::testing::SimModems modems_{1};
    velka::testing::TempDir home_;
    ScriptedDialogs dialogs_;
    app::AppCore core_{home_.path()};
    std::unique_ptr<TMainForm> window_;
    std::unique_ptr<TConfigForm> config_form_;
};

TEST_F(SimLimitsFormTest, TheDialogShowsTheSimsLimitsAndCountsAndSavesWhatIsTyped) {
    ASSERT_TRUE(settings::WriteSimSettings(
        Ini(), kSim, {W("Рабочая"), {.per_hour = 60, .recipients_per_day = 100}}));
    {
        auto counters =
            app::SimCounters::Open(home_.File(store::kSimCountersFile), app::WallSeconds());
        ASSERT_TRUE(counters);
        for (const char* number : {"+79160000001", "+79160000002", "+79160000001"})
            ASSERT_TRUE((*counters)->Count(kSim, number, 1, app::WallSeconds()));
    }
    Start();
    Options(*window_, dialogs_, [&](QDialog& form) -> int {
        EXPECT_EQ(In<QLabel>(form, "SimKeyLabel")->text(), QString("SIM-карта ") + kSim);
        EXPECT_EQ(In<QLineEdit>(form, "SimNameEdit")->text(), "Рабочая");
        EXPECT_EQ(In<QSpinBox>(form, "SimPerHourBox")->value(), 60);
        EXPECT_EQ(In<QSpinBox>(form, "SimRecipientsPerDayBox")->value(), 100);
        EXPECT_EQ(In<QSpinBox>(form, "SimPerDayBox")->text(), "без ограничения");
        EXPECT_EQ(In<QLabel>(form, "SimUsageLabel")->text(),
                  "Отправлено за час: 3 из 60, за сутки: 3; получателей за сутки: 2 из 100, "
                  "за месяц: 2");
        // What the keyboard cannot put in: no sign, no letters.
        for (const char* name : kLimitBoxes) {
            QSpinBox* box = In<QSpinBox>(form, name);
            box->clear();
            QTest::keyClicks(box, "-7x");
            box->interpretText();
            EXPECT_EQ(box->value(), 7) << name;
        }
        In<QLineEdit>(form, "SimNameEdit")->setText("Личная");
        In<QSpinBox>(form, "SimPerDayBox")->setValue(500);
        In<QSpinBox>(form, "SimPauseBox")->setValue(0);
        return QDialog::Accepted;
    });
    const auto saved = settings::ReadSimSettings(Ini(), kSim);
    ASSERT_TRUE(saved);
    EXPECT_EQ(
        *saved,
        (settings::SimSettings{
            W("Личная"),
            {.per_hour = 7, .per_day = 500, .recipients_per_day = 7, .recipients_per_month = 7}}));
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(SimLimitsFormTest, LimitsThatCannotBeReadAreSaidAndNeverWrittenOver) {
    ASSERT_TRUE(profile::WriteString(Ini(), settings::SimSection(kSim), "MessagesPerHour", "many"));
    Start();
    Options(*window_, dialogs_, [&](QDialog& form) -> int {
        EXPECT_TRUE(In<QLabel>(form, "SimUsageLabel")
                        ->text()
                        .startsWith("Лимиты SIM в Config.ini не читаются: MessagesPerHour: 'many'"))
            << In<QLabel>(form, "SimUsageLabel")->text().toStdString();
        for (const char* box : kLimitBoxes) EXPECT_FALSE(In<QSpinBox>(form, box)->isEnabled());
        return QDialog::Accepted;
    });
    EXPECT_EQ(Stored("MessagesPerHour"), "many");
    EXPECT_EQ(Stored("MessagesPerDay"), "<missing>");
}

}  // namespace
}  // namespace velka::gui::testing
