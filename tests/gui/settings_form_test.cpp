// Start-up from Config.ini, the settings dialog through "Настройки" (discovery, the
// fields, applying and the close box), and the port selection dialog.
#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>

#include "gui/ser_sel_com_form.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "settings/port_discovery.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"

namespace velka::gui::testing {
namespace {

class SettingsTest : public MainFormTest {
  protected:
    std::string Ini() const { return home_.File("Config.ini"); }
    void Configure(std::string_view key, std::string_view value) {
        ASSERT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", key, value));
    }
    std::string Stored(std::string_view key) {
        return profile::ReadString(Ini(), "DEVICEMAP", key, "<missing>");
    }
    // Opens the settings through the button and runs `script` on the dialog.
    void Options(const std::function<int(QDialog&)>& script) {
        dialogs_.AnswerForm(script);
        Find<QToolButton>("qmOptions")->click();
    }
    static QStringList Items(QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }
    void InstallModem(const char* device_key, const std::string& instance,
                      const std::string& port) {
        ASSERT_TRUE(registry_.WriteString(
            std::string(device_key) + "\\" + instance + "\\Device Parameters", "PortName", port));
        Plug(instance, port);
    }
    // The port present now: listed in the serial device map under a device path that
    // exists, as the list is brought up to date before the dialog shows it.
    void Plug(const std::string& device, const std::string& port) {
        const std::string path = home_.File("dev-" + device);
        ASSERT_TRUE(files::SaveDurably(path, ""));
        ASSERT_TRUE(registry_.WriteString(settings::kSerialDeviceMapKey, path, port));
    }
};

TEST_F(SettingsTest, WithoutConfigIniNoWorkerStartsAndTheDialogShowsTheDefaults) {
    Window().show();
    EXPECT_FALSE(core_.WorkerRunning());
    EXPECT_TRUE(dialogs_.Messages().empty());
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(form.windowTitle(), "Настройки");
        // At least its designed size; wider where the platform's font needs it.
        form.layout()->activate();
        EXPECT_GE(form.width(), 337);
        EXPECT_GE(form.height(), 153);
        EXPECT_EQ(In<QLabel>(form, "PortLabel")->text(), "Выберите устройство из списка");
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->width(), 145);
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->currentText(), "");
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->count(), 0);
        EXPECT_TRUE(In<QCheckBox>(form, "MailCheck")->isChecked());
        EXPECT_EQ(In<QCheckBox>(form, "MailCheck")->text(), "Включить приём сообщений");
        EXPECT_EQ(In<QLabel>(form, "NotifyBox")->text(),
                  "При включении данной опции устройство перейдёт в режим \n"
                  "передачи данных и звонки через него будут невозможны");
        EXPECT_EQ(In<QPushButton>(form, "ApplyBtn")->text(), "Применить");
        return QDialog::Rejected;
    });
    EXPECT_FALSE(files::Exists(Ini())) << "the close box writes nothing";
}

TEST_F(SettingsTest, StartsTheWorkerOnThePortAfterCom) {
    for (const auto& [text, port] :
         std::vector<std::pair<std::string, int>>{{"COM3", 3}, {"COM12", 12}, {"XYZ7", 7}}) {
        Configure("SerialPort", text);
        app::AppCore core(home_.path());
        TMainForm window(dialogs_, registry_, core);
        EXPECT_TRUE(core.WorkerRunning()) << text;
        EXPECT_EQ(core.PortNumber(), port) << text;
        window.close();  // stops and joins the worker, which cannot open the port
    }
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(SettingsTest, ShortPortTextsStartNoWorkerAndSayNothing) {
    for (const char* text : {"COM", "", "CO"}) {
        Configure("SerialPort", text);
        app::AppCore core(home_.path());
        TMainForm window(dialogs_, registry_, core);
        EXPECT_FALSE(core.WorkerRunning()) << text;
    }
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(SettingsTest, APortThatIsNoNumberIsReportedAndTheWindowStillOpens) {
    Configure("SerialPort", "COM1x");
    Configure("PerformMailCheck", "0");
    dialogs_.NameNextScreenshot("error-port-number");
    Window().show();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_FALSE(core_.WorkerRunning());
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs_.Messages()[0].text, "'1x' is not a valid integer value");
    EXPECT_FALSE(core_.ReceptionEnabled());
}

TEST_F(SettingsTest, ApplyWritesBothKeysAndSwitchesReceptionAtOnce) {
    Configure("SerialPort", "COM4");
    Window().show();
    ASSERT_EQ(core_.PortNumber(), 4);
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->currentText(), "COM4");
        In<QComboBox>(form, "PortBox")->setEditText("COM9");
        In<QCheckBox>(form, "MailCheck")->setChecked(false);
        return QDialog::Accepted;
    });
    EXPECT_EQ(Stored("SerialPort"), "COM9");
    EXPECT_EQ(Stored("PerformMailCheck"), "0");
    EXPECT_FALSE(core_.ReceptionEnabled());
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->currentText(), "COM4") << "the port in use";
        EXPECT_FALSE(In<QCheckBox>(form, "MailCheck")->isChecked());
        In<QComboBox>(form, "PortBox")->setEditText("");
        In<QCheckBox>(form, "MailCheck")->setChecked(true);
        return QDialog::Accepted;
    });
    EXPECT_EQ(Stored("SerialPort"), "");
    EXPECT_EQ(Stored("PerformMailCheck"), "1");
    EXPECT_TRUE(core_.ReceptionEnabled());
    EXPECT_TRUE(dialogs_.Messages().empty());
}

// The denser UCS2 parts are off as designed until switched on; the compose
// counter follows the switch at once.
TEST_F(SettingsTest, FullUcs2PartsAreSwitchedOnAndTheCounterFollows) {
    Window().show();
    const auto counter_for_russian_text = [&] {
        QString counter;
        dialogs_.AnswerForm([&](QDialog& form) -> int {
            In<QPlainTextEdit>(form, "MessageText")->setPlainText(QString(230, QChar(0x0436)));
            counter = In<QLabel>(form, "CounterLabel")->text();
            return QDialog::Rejected;
        });
        Action("actCompose")->trigger();
        return counter;
    };
    EXPECT_EQ(counter_for_russian_text(), "Сообщений: 5  Знаков: 230");
    Options([&](QDialog& form) -> int {
        EXPECT_FALSE(In<QCheckBox>(form, "FullUcs2PartsCheck")->isChecked());
        In<QCheckBox>(form, "FullUcs2PartsCheck")->setChecked(true);
        return QDialog::Accepted;
    });
    EXPECT_EQ(Stored("FullUcs2Parts"), "1");
    EXPECT_TRUE(core_.FullUcs2Segments());
    EXPECT_EQ(counter_for_russian_text(), "Сообщений: 4  Знаков: 230");
    Options([&](QDialog& form) -> int {
        EXPECT_TRUE(In<QCheckBox>(form, "FullUcs2PartsCheck")->isChecked());
        return QDialog::Rejected;
    });
}

TEST_F(SettingsTest, TheCloseBoxForgetsWhatWasTyped) {
    Window().show();
    Options([&](QDialog& form) -> int {
        In<QComboBox>(form, "PortBox")->setEditText("COM9");
        In<QCheckBox>(form, "MailCheck")->setChecked(false);
        return QDialog::Rejected;
    });
    EXPECT_TRUE(core_.ReceptionEnabled());
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->currentText(), "");
        EXPECT_TRUE(In<QCheckBox>(form, "MailCheck")->isChecked());
        return QDialog::Rejected;
    });
    EXPECT_FALSE(files::Exists(Ini()));
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenIsReportedAndReceptionStays) {
    ASSERT_TRUE(std::filesystem::create_directory(Ini()));
    Window().show();
    Options([&](QDialog& form) -> int {
        dialogs_.NameNextScreenshot("error-config-write");
        In<QCheckBox>(form, "MailCheck")->setChecked(false);
        return QDialog::Accepted;
    });
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_TRUE(dialogs_.Messages()[0].text.startsWith(
        QString::fromStdString("Unable to write to " + Ini())))
        << dialogs_.Messages()[0].text.toStdString();
    EXPECT_TRUE(core_.ReceptionEnabled());
}

TEST_F(SettingsTest, TheBalanceCheckIsOfferedAndKeptInItsOwnSection) {
    ASSERT_TRUE(profile::WriteString(Ini(), "Balance", "Code", "*100#"));
    ASSERT_TRUE(profile::WriteString(Ini(), "Balance", "Interval", "daily"));
    Window().show();
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(In<QLineEdit>(form, "BalanceCodeEdit")->text(), "*100#");
        EXPECT_EQ(In<QComboBox>(form, "BalanceIntervalBox")->currentText(), "раз в сутки");
        EXPECT_EQ(In<QLineEdit>(form, "BalanceThresholdEdit")->text(), "");
        In<QLineEdit>(form, "BalanceCodeEdit")->setText(" *102# ");
        In<QComboBox>(form, "BalanceIntervalBox")->setCurrentIndex(1);
        In<QLineEdit>(form, "BalanceThresholdEdit")->setText("15,5");
        return QDialog::Accepted;
    });
    EXPECT_EQ(profile::ReadString(Ini(), "Balance", "Code", ""), "*102#");
    EXPECT_EQ(profile::ReadString(Ini(), "Balance", "Interval", ""), "hourly");
    EXPECT_EQ(profile::ReadString(Ini(), "Balance", "Threshold", ""), "15,50");
}

TEST_F(SettingsTest, OffersThePortsOfConnectedModemsOfBothIdentifiers) {
    InstallModem(settings::kModemDeviceKeys[1], "ffff-1", "COM7");
    InstallModem(settings::kModemDeviceKeys[0], "c251-1", "COM3");
    // Recorded in another letter case than the port present: not the same name.
    ASSERT_TRUE(registry_.WriteString(
        std::string(settings::kModemDeviceKeys[0]) + "\\c251-2\\Device Parameters", "PortName",
        "com5"));
    Plug("x", "COM5");
    Window().show();
    dialogs_.NameNextScreenshot("settings");
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(Items(In<QComboBox>(form, "PortBox")), QStringList({"COM7", "COM3"}));
        EXPECT_EQ(In<QComboBox>(form, "PortBox")->currentText(), "") << "no port in use";
        In<QComboBox>(form, "PortBox")->setCurrentIndex(1);
        return QDialog::Accepted;
    });
    EXPECT_EQ(Stored("SerialPort"), "COM3");
}

TEST_F(SettingsTest, TheMenuEntryOpensTheSameDialog) {
    Window().show();
    QDialog* first = nullptr;
    Options([&](QDialog& form) -> int {
        first = &form;
        return QDialog::Rejected;
    });
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        EXPECT_EQ(&form, first) << "made once and reused";
        return QDialog::Rejected;
    });
    Action("mmOptions")->trigger();
    EXPECT_EQ(dialogs_.FormsShown(), 2);
}

class PortSelection : public ::testing::Test {
  protected:
    static bool Ports1And3And12(std::uint16_t n) { return n == 1 || n == 3 || n == 12; }
    ScriptedDialogs dialogs_;
};

QComboBox* PortsOf(QDialog& form) {
    return form.findChild<QComboBox*>(QStringLiteral("PortsComboBox"));
}

TEST_F(PortSelection, ListsTheAvailablePortsWithTheFirstSelected) {
    dialogs_.AnswerForm([](QDialog& form) -> int {
        EXPECT_EQ(form.windowTitle(), "Select Port");
        form.layout()->activate();
        EXPECT_GE(form.width(), 220);
        EXPECT_GE(form.height(), 131);
        EXPECT_EQ(form.findChild<QLabel*>("Label1")->text(),
                  "The configured serial port is not valid.");
        EXPECT_EQ(form.findChild<QLabel*>("Label2")->text(), "Please choose another port.");
        EXPECT_EQ(form.findChild<QFrame*>("Bevel1")->pos(), QPoint(8, 8));
        EXPECT_EQ(form.findChild<QPushButton*>("OkBtn")->text(), "OK");
        EXPECT_EQ(form.findChild<QPushButton*>("AbortBtn")->text(), "Cancel");
        QComboBox* ports = PortsOf(form);
        EXPECT_FALSE(ports->isEditable());
        EXPECT_EQ(ports->count(), 3);
        EXPECT_EQ(ports->itemText(2), "COM12");
        EXPECT_EQ(ports->currentText(), "COM1");
        ports->setCurrentIndex(2);
        return QDialog::Accepted;
    });
    dialogs_.NameNextScreenshot("select-port");
    EXPECT_EQ(MakePortSelector(dialogs_, Ports1And3And12)(), std::optional<std::uint16_t>(12));
}

TEST_F(PortSelection, CancelAndAnEmptyListChooseNothing) {
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    EXPECT_EQ(MakePortSelector(dialogs_, Ports1And3And12)(), std::nullopt);
    dialogs_.AnswerForm([](QDialog& form) -> int {
        EXPECT_EQ(PortsOf(form)->count(), 0);
        return QDialog::Accepted;
    });
    EXPECT_EQ(MakePortSelector(dialogs_, [](std::uint16_t) { return false; })(), std::nullopt);
}

TEST_F(PortSelection, NumbersAbove50AreNeverOffered) {
    dialogs_.AnswerForm([](QDialog& form) -> int {
        EXPECT_EQ(PortsOf(form)->count(), 50);
        EXPECT_EQ(PortsOf(form)->itemText(49), "COM50");
        form.findChild<QPushButton*>("OkBtn")->click();
        return form.result();
    });
    EXPECT_EQ(MakePortSelector(dialogs_, [](std::uint16_t) { return true; })(),
              std::optional<std::uint16_t>(1));
}

}  // namespace
}  // namespace velka::gui::testing
