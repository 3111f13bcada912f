// The desktop client end to end on virtual modems: a message composed to two
// contacts goes out through the worker and shows in "Отправленные"; the settings
// dialog offers the virtual modems' ports and switches reception of a running
// worker; closing with records queued says they go out at the next start, which
// sends them; a second window finds the modem taken and queues for the first.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTableWidget>
#include <QToolButton>
#include <filesystem>
#include <functional>

#include "gui/box_table_model.h"
#include "gui/config_form.h"
#include "gui/qt_text.h"
#include "platform/profile.h"
#include "sms/text_plan.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

using ::velka::testing::Eventually;

class VirtualModemTest : public ::testing::Test {
  protected:
    // The window uses the machine registry, where the virtual modems are registered.
    VirtualModemTest() { ::setenv("VELKA_HOME", home_.path().c_str(), 1); }
    // Tidies the machine registry for the next test; a test that wrote no contact
    // leaves no key to delete.
    ~VirtualModemTest() override {
        IgnoreFailure(Registry::Machine().DeleteKey(contacts::kContactKey));
    }

    void Start(bool reception) {
        const std::string ini = home_.File("Config.ini");
        ASSERT_TRUE(profile::WriteString(ini, "DEVICEMAP", "SerialPort", modems_.ComName(1)));
        ASSERT_TRUE(
            profile::WriteString(ini, "DEVICEMAP", "PerformMailCheck", reception ? "1" : "0"));
        window_ = std::make_unique<TMainForm>(dialogs_, Registry::Machine(), core_);
        config_form_ = std::make_unique<TConfigForm>(window_.get());
        window_->UseConfigForm(*config_form_);
        window_->show();
        ASSERT_TRUE(core_.WorkerRunning());
    }
    std::size_t Records(const char* file) {
        auto records = store::Load(home_.File(file));
        return records ? records->size() : 0;
    }
    velka::testing::SimModems modems_{2};
    velka::testing::TempDir home_;
    ScriptedDialogs dialogs_;
    app::AppCore core_{home_.path()};
    std::unique_ptr<TMainForm> window_;
    std::unique_ptr<TConfigForm> config_form_;
};

TEST_F(VirtualModemTest, ATwoSegmentRussianMessageToTwoContactsShowsInTheOutbox) {
    contacts::ContactBook book(Registry::Machine());
    ASSERT_TRUE(book.WriteContact({W("Мария"), "+79990000002", W("Друзья")}));
    ASSERT_TRUE(book.WriteContact({W("Пётр"), "+79161234567", W("Друзья")}));
    Start(false);
    const QString text = QString("Привет! ").repeated(11);  // 88 characters: two segments
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QAction>(form, "pmAddAll")->trigger();
        In<QPlainTextEdit>(form, "MessageText")->setPlainText(text);
        EXPECT_EQ(In<QLabel>(form, "CounterLabel")->text(), "Сообщений: 2  Знаков: 88");
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
    ASSERT_TRUE(Eventually([&] { return Records("outbox.db") == 2; }));
    EXPECT_TRUE(dialogs_.Messages().empty());

    window_->qmOutBoxClick();
    QAbstractItemModel* rows = window_->findChild<QTableView*>("MessageTable")->model();
    ASSERT_EQ(rows->rowCount(), 2);
    EXPECT_EQ(rows->index(0, 0).data().toString(), "Мария (+79990000002)");
    EXPECT_EQ(rows->index(1, 0).data().toString(), "Пётр (+79161234567)");
    EXPECT_EQ(rows->index(0, 2).data().toString(), text);
    EXPECT_EQ(PlanOutgoingText(text.toStdU16String()).pieces.size(), 2u)
        << "two segments, the signature included";
    EXPECT_EQ(modems_.Store(2).size(), 2u) << "the second modem holds both segments";
}

// Typed with an emoji, Greek and Chinese, to the modem's own number: the counter
// counts what goes out, the characters that force UCS2 are marked, and the text
// comes back; both boxes show it as typed, not with "?".
TEST_F(VirtualModemTest, AnEmojiTextGoesOutAndComesBackWholeInBothBoxes) {
    Start(true);
    // "See you at five, ok? 👍 Γειά 你好"
    const QString text = QString::fromUtf8(
        "See you at five, ok? \xF0\x9F\x91\x8D \xCE\x93\xCE\xB5\xCE\xB9\xCE\xAC "
        "\xE4\xBD\xA0\xE5\xA5\xBD");
    dialogs_.NameNextScreenshot("compose-emoji");
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000001");
        auto* edit = In<QPlainTextEdit>(form, "MessageText");
        edit->setPlainText(text);
        EXPECT_EQ(In<QLabel>(form, "CounterLabel")->text(), "Сообщений: 1  Знаков: 30");
        EXPECT_EQ(In<QLabel>(form, "PriceLabel")->text(), "UCS2, ещё 1")
            << "38 of signature and 31 units: the emoji takes two";
        EXPECT_EQ(edit->extraSelections().size(), 7)
            << "the emoji's two halves, three Greek letters (the 7-bit alphabet has Γ), Chinese";
        EXPECT_FALSE(In<QToolButton>(form, "CheaperButton")->isVisible());
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
    ASSERT_TRUE(Eventually([&] { return Records("outbox.db") == 1 && Records("inbox.db") == 1; }));

    window_->qmOutBoxClick();
    QAbstractItemModel* rows = window_->findChild<QTableView*>("MessageTable")->model();
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->index(0, 2).data().toString(), text);
    window_->qmInBoxClick();
    rows = window_->findChild<QTableView*>("MessageTable")->model();
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_TRUE(rows->index(0, 2).data().toString().endsWith(text));
}

TEST_F(VirtualModemTest, TheDialogOffersTheVirtualModemsAndSwitchesReceptionOn) {
    Start(false);
    modems_.Control("inject 1 +79161234567 Hello");
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        QComboBox* ports = In<QComboBox>(form, "PortBox");
        EXPECT_NE(ports->findText(QString::fromStdString(modems_.ComName(1))), -1);
        EXPECT_NE(ports->findText(QString::fromStdString(modems_.ComName(2))), -1);
        EXPECT_EQ(ports->currentText().toStdString(), modems_.ComName(1)) << "the port in use";
        EXPECT_FALSE(In<QCheckBox>(form, "MailCheck")->isChecked());
        In<QCheckBox>(form, "MailCheck")->setChecked(true);
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("mmOptions")->trigger();
    EXPECT_TRUE(core_.ReceptionEnabled());
    ASSERT_TRUE(Eventually([&] { return Records("inbox.db") == 1; }));
    window_->qmInBoxClick();
    QAbstractItemModel* rows = window_->findChild<QTableView*>("MessageTable")->model();
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->index(0, 2).data().toString(), "Hello");
}

// Waits, letting the window handle what the worker posted to it.
bool EventuallyOnWindow(const std::function<bool()>& condition) {
    return Eventually([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

// A pool of two: the status bar sums it up, with each modem in its tooltip; the pane
// "Модемы" (in "Сервис") lists both with their IMEIs; the compose window offers to pick one.
TEST_F(VirtualModemTest, APoolIsSummedUpInTheStatusBarAndListedInThePane) {
    ASSERT_TRUE(profile::WriteString(home_.File("Config.ini"), "Modem 2", "SerialPort",
                                     modems_.ComName(2)));
    Start(true);
    ASSERT_EQ(core_.ModemCount(), 2u);
    auto* label = window_->findChild<QLabel*>("ModemLabel");
    ASSERT_TRUE(EventuallyOnWindow([&] {
        return label->text() == QStringLiteral("Модемы: готовы 2 из 2, отправлено сегодня: 0");
    })) << label->text().toStdString();
    EXPECT_EQ(label->toolTip().count(QLatin1Char('\n')), 1) << "a line per modem";
    EXPECT_TRUE(label->toolTip().startsWith(ToQt(modems_.ComName(1)) + QStringLiteral(": готов")));

    Screenshots::Save(*window_, "pool-window");
    auto* modems = window_->findChild<QAction*>("mmModems");
    ASSERT_TRUE(modems->isVisible());
    dialogs_.AnswerForm([&](QDialog& pane) -> int {
        auto* table = In<QTableWidget>(pane, "ModemsTable");
        EXPECT_EQ(table->rowCount(), 2);
        for (int row = 0; row < table->rowCount(); ++row) {
            EXPECT_EQ(table->item(row, 0)->text(), ToQt(modems_.ComName(row + 1)));
            EXPECT_EQ(table->item(row, 5)->text().size(), 15) << "its IMEI";
        }
        Screenshots::Save(pane, "pool-modems");
        return QDialog::Accepted;
    });
    modems->trigger();
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        EXPECT_FALSE(In<QWidget>(form, "ViaPanel")->isHidden());
        EXPECT_EQ(In<QComboBox>(form, "ViaCombo")->count(), 3) << "any, and the two modems";
        Screenshots::Save(form, "pool-compose");
        return QDialog::Rejected;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
}

// A modem of another maker is not among the modem's own ports; the dialog finds it
// by asking every other USB serial port, and lists it after them under its name.
TEST_F(VirtualModemTest, TheDialogOffersAnotherMakersModemByNameAfterTheModemsOwn) {
    modems_.AsAnotherMakers(2, "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_12d1&Pid_1506");
    Start(false);
    const QString label = QString::fromStdString(modems_.ComName(2) + " (Velka Virtual GSM Modem)");
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        QComboBox* ports = In<QComboBox>(form, "PortBox");
        EXPECT_TRUE(EventuallyOnWindow([&] { return ports->findText(label) != -1; }));
        EXPECT_EQ(ports->itemText(0).toStdString(), modems_.ComName(1)) << "the modem's own first";
        EXPECT_EQ(ports->currentText().toStdString(), modems_.ComName(1)) << "the port in use";
        if (Screenshots::Enabled()) {
            ports->showPopup();
            Screenshots::Save(*ports->view()->window(), "settings-other-modem");
            ports->hidePopup();
        }
        ports->setCurrentIndex(ports->findText(label));
        EXPECT_EQ(ports->currentText().toStdString(), modems_.ComName(2)) << "the port alone";
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("mmOptions")->trigger();
    EXPECT_EQ(profile::ReadString(home_.File("Config.ini"), "DEVICEMAP", "SerialPort", ""),
              modems_.ComName(2));
}

TEST_F(VirtualModemTest, TheBoxOnViewShowsMessagesAsTheyArriveAndGoOut) {
    Start(true);
    window_->qmInBoxClick();
    QAbstractItemModel* rows = window_->findChild<QTableView*>("MessageTable")->model();
    ASSERT_EQ(rows->rowCount(), 0);
    modems_.Control("inject 1 +79161234567 Hello");
    ASSERT_TRUE(EventuallyOnWindow([&] { return rows->rowCount() == 1; }));
    EXPECT_EQ(rows->index(0, 2).data().toString(), "Hello");

    window_->qmOutBoxClick();
    ASSERT_EQ(rows->rowCount(), 0);
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000002");
        In<QPlainTextEdit>(form, "MessageText")->setPlainText("on its way");
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
    ASSERT_TRUE(EventuallyOnWindow([&] { return rows->rowCount() == 1; }));
    EXPECT_EQ(rows->index(0, 2).data().toString(), "on its way");
    EXPECT_TRUE(dialogs_.Messages().empty());
}

// Reception off keeps the status report on the modem until the test lets the worker
// read it: the refresh that shows "доставлено" can then come from nothing but the
// worker's word that a report was kept.
TEST_F(VirtualModemTest, TheOutboxOnViewShowsTheDeliveryOnceTheReportIsKept) {
    modems_.Control("fault 1 reports sm");
    ASSERT_TRUE(
        profile::WriteString(home_.File("Config.ini"), "DEVICEMAP", "DeliveryReports", "1"));
    Start(false);
    window_->qmOutBoxClick();
    QAbstractItemModel* rows = window_->findChild<QTableView*>("MessageTable")->model();
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000002");
        In<QPlainTextEdit>(form, "MessageText")->setPlainText("report me");
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
    const auto state = [&] { return rows->index(0, BoxTableModel::kState).data().toString(); };
    ASSERT_TRUE(EventuallyOnWindow([&] { return rows->rowCount() == 1; }));
    EXPECT_EQ(state(), "отправлено");
    EXPECT_EQ(modems_.Store(1).size(), 1u) << "the report waits on the SIM";
    core_.SetReceptionEnabled(true);
    ASSERT_TRUE(EventuallyOnWindow([&] { return state().startsWith("доставлено "); }))
        << state().toStdString();
    EXPECT_TRUE(dialogs_.Messages().empty());
}

// A directory in outbox.db's place refuses every write, as a full disk would.
TEST_F(VirtualModemTest, AnOutboxTheDiskRefusesIsToldOnceAndFilledLater) {
    const std::string outbox = home_.File("outbox.db");
    ASSERT_TRUE(std::filesystem::create_directory(outbox));
    Start(false);
    for (const char* text : {"first", "second"}) {
        dialogs_.AnswerForm([&, text](QDialog& form) -> int {
            In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000002");
            In<QPlainTextEdit>(form, "MessageText")->setPlainText(text);
            return QDialog::Accepted;
        });
        window_->findChild<QAction*>("actCompose")->trigger();
    }
    dialogs_.NameNextScreenshot("warning-disk");
    ASSERT_TRUE(Eventually([&] { return modems_.Store(2).size() == 2; }));
    ASSERT_TRUE(EventuallyOnWindow([&] { return !dialogs_.Messages().empty(); }));
    {
        const auto held = velka::testing::BoxHeld(outbox);
        std::filesystem::remove(outbox);
    }
    ASSERT_TRUE(Eventually([&] { return Records("outbox.db") == 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs_.Messages().size(), 1u) << "one warning, not one per record";
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
    EXPECT_TRUE(dialogs_.Messages()[0].text.startsWith(
        "Не удалось записать отправленное сообщение в список отправленных.\n"))
        << dialogs_.Messages()[0].text.toStdString();
    EXPECT_TRUE(dialogs_.Messages()[0].text.contains(QString::fromStdString(outbox)));
}

TEST_F(VirtualModemTest, ClosingWithARecordQueuedSaysSoAndTheNextStartSendsIt) {
    Start(false);
    modems_.Control("fault 1 silent on");  // the worker waits on a modem that never answers
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000002");
        In<QPlainTextEdit>(form, "MessageText")->setPlainText("sent at the next start");
        return QDialog::Accepted;
    });
    window_->findChild<QAction*>("actCompose")->trigger();
    dialogs_.NameNextScreenshot("warning-queued-at-close");
    window_->findChild<QAction*>("mmClose")->trigger();  // returns once the worker is joined
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(Records("outbox.db"), 0u);
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].text,
              "В очереди осталось 1 сообщение. Оно будет отправлено при следующем запуске "
              "программы.");

    modems_.Control("fault 1 silent off");
    app::AppCore next_core(home_.path());
    TMainForm next_window(dialogs_, Registry::Machine(), next_core);
    EXPECT_TRUE(Eventually([&] { return Records("outbox.db") == 1; }));
    EXPECT_EQ(modems_.Store(2).size(), 1u);
}

TEST_F(VirtualModemTest, ASecondWindowIsToldWhoDrivesTheModemAndQueuesForIt) {
    Start(false);
    app::AppCore second_core(home_.path());
    TMainForm second(dialogs_, Registry::Machine(), second_core);
    EXPECT_FALSE(second_core.WorkerRunning());
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_TRUE(dialogs_.Messages()[0].text.startsWith("С модемом уже работает программа "))
        << dialogs_.Messages()[0].text.toStdString();
    EXPECT_TRUE(dialogs_.Messages()[0].text.contains(
        QString("(процесс %1)").arg(QCoreApplication::applicationPid())));
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79990000002");
        In<QPlainTextEdit>(form, "MessageText")->setPlainText("through the first window");
        return QDialog::Accepted;
    });
    second.findChild<QAction*>("actCompose")->trigger();
    EXPECT_TRUE(Eventually([&] { return Records("outbox.db") == 1; }));
    second.close();
    EXPECT_EQ(dialogs_.Messages().size(), 1u) << "the first window's worker sends; nothing to say";
}

TEST_F(VirtualModemTest, ASimThatWantsItsPinIsUnlockedWithThePinTheUserTypes) {
    modems_.Control("fault 1 pin 2468");
    modems_.Control("inject 1 +79161234567 behind the PIN");
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        auto* ask = qobject_cast<QInputDialog*>(&form);
        EXPECT_NE(ask, nullptr);
        if (ask == nullptr) return QDialog::Rejected;
        EXPECT_TRUE(ask->labelText().contains("PIN-код"));
        ask->setTextValue("2468");
        return QDialog::Accepted;
    });
    Start(true);
    ASSERT_TRUE(Eventually([&] {
        QCoreApplication::processEvents();
        return Records("inbox.db") == 1;
    }));
    EXPECT_EQ(dialogs_.FormsShown(), 1);
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// The box stands while the SIM is missing, waits for nobody, and closes itself when
// the SIM is back.
TEST_F(VirtualModemTest, AMissingSimIsToldInABoxThatClosesWhenTheSimIsBack) {
    modems_.Control("fault 1 sim missing");
    Start(true);
    QPointer<QMessageBox> box;
    ASSERT_TRUE(Eventually([&] {
        QCoreApplication::processEvents();
        box = window_->findChild<QMessageBox*>("ModemStateBox");
        return box && box->isVisible();
    }));
    EXPECT_TRUE(box->text().startsWith("В модеме нет SIM-карты.")) << box->text().toStdString();
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(dialogs_.Messages().empty());
    modems_.Control("fault 1 sim present");
    ASSERT_TRUE(Eventually(
        [&] {
            QCoreApplication::processEvents();
            return box.isNull() || !box->isVisible();
        },
        std::chrono::seconds(30)))
        << "the SIM came back: the box went";
}

}  // namespace
}  // namespace velka::gui::testing
