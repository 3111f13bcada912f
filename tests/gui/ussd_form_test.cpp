// "Сервис" → "USSD-запрос…" end to end on a virtual modem: a balance code shows the
// operator's answer in Russian whatever form the modem writes it in, the codes used
// before are offered again, a menu is walked and ended on the network, a code the
// network does not serve is told in Russian.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "gui/main_form.h"
#include "platform/profile.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"
#include "tests/modem/sim_fixture.h"

namespace velka::gui::testing {
namespace {

using ::velka::testing::Count;

// Generous: the virtual network answers at once.
constexpr int kAnswerWait = 30000;  // ms

class UssdFormTest : public ::testing::Test {
  protected:
    explicit UssdFormTest(std::size_t modems = 1) : modems_(modems) {
        ::setenv("VELKA_HOME", home_.path().c_str(), 1);
    }

    void SetUp() override {
        ASSERT_TRUE(profile::WriteString(home_.File("Config.ini"), "DEVICEMAP", "SerialPort",
                                         modems_.ComName(1)));
        window_ = std::make_unique<TMainForm>(dialogs_, Registry::Machine(), core_);
        window_->show();
        ASSERT_TRUE(core_.WorkerRunning());
    }
    // Opens the USSD window and runs `script` in it.
    void InUssdWindow(std::function<void(QDialog&)> script) {
        dialogs_.AnswerForm([&](QDialog& form) {
            script(form);
            return QDialog::Rejected;
        });
        window_->findChild<QAction*>("mmUssd")->trigger();
        EXPECT_TRUE(dialogs_.AllAnswersUsed());
    }
    static QString Answer(QDialog& form) {
        return In<QPlainTextEdit>(form, "AnswerText")->toPlainText();
    }
    static void Send(QDialog& form, const QString& code) {
        In<QComboBox>(form, "UssdCode")->setCurrentText(code);
        In<QPushButton>(form, "SendButton")->click();
    }

    velka::testing::SimModems modems_;
    velka::testing::TempDir home_;
    ScriptedDialogs dialogs_;
    app::AppCore core_{home_.path()};
    std::unique_ptr<TMainForm> window_;
};

TEST_F(UssdFormTest, ABalanceCodeShowsTheAnswerInRussianWhateverFormTheModemWritesIn) {
    InUssdWindow([&](QDialog& form) {
        for (const char* modem_form : {"text", "packed", "unpacked", "ucs2"}) {
            modems_.Control(std::string("fault 1 ussd-form ") + modem_form);
            In<QPlainTextEdit>(form, "AnswerText")->clear();
            Send(form, "*100#");
            QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Баланс: 57,10 р."), kAnswerWait);
            EXPECT_EQ(In<QLabel>(form, "StateLabel")->text(), "Сеанс завершён.");
            EXPECT_FALSE(In<QPushButton>(form, "ReplyButton")->isEnabled());
        }
        Send(form, "*101#");
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Balance 99.00 RUB"), kAnswerWait);
    });
    // The codes used come back, the last first.
    InUssdWindow([&](QDialog& form) {
        auto* codes = In<QComboBox>(form, "UssdCode");
        ASSERT_EQ(codes->count(), 2);
        EXPECT_EQ(codes->itemText(0), "*101#");
        EXPECT_EQ(codes->itemText(1), "*100#");
    });
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(UssdFormTest, AMenuIsAnsweredInTheSameWindowAndEndedOnTheNetwork) {
    InUssdWindow([&](QDialog& form) {
        Send(form, "*111#");
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Меню:\n1 Баланс\n2 Тарифы"), kAnswerWait);
        EXPECT_TRUE(In<QPushButton>(form, "ReplyButton")->isEnabled());
        EXPECT_EQ(In<QLabel>(form, "StateLabel")->text(),
                  "Сеть ждёт ответа: введите его и нажмите «Ответить».");
        In<QLineEdit>(form, "ReplyEdit")->setText("2");
        In<QPushButton>(form, "ReplyButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Тарифы:\n1 Базовый\n2 Безлимит"),
                                  kAnswerWait);
        In<QPushButton>(form, "EndButton")->click();
        EXPECT_EQ(In<QLabel>(form, "StateLabel")->text(), "Сеанс завершён.");
        EXPECT_FALSE(In<QPushButton>(form, "ReplyButton")->isEnabled());
    });
    EXPECT_TRUE(::velka::testing::Eventually(
        [&] { return Count(modems_.Written(1), "AT+CUSD=2\r") == 1; }));
}

TEST_F(UssdFormTest, ClosingTheWindowOnAQuestionEndsTheSession) {
    InUssdWindow([&](QDialog& form) {
        Send(form, "*111#");
        QTRY_VERIFY_WITH_TIMEOUT(In<QPushButton>(form, "ReplyButton")->isEnabled(), kAnswerWait);
        form.reject();
    });
    EXPECT_TRUE(::velka::testing::Eventually(
        [&] { return Count(modems_.Written(1), "AT+CUSD=2\r") == 1; }));
}

TEST_F(UssdFormTest, ACodeTheNetworkDoesNotServeAndAnEmptyOneAreToldInRussian) {
    InUssdWindow([&](QDialog& form) {
        Send(form, "");
        Send(form, "*555#");
        QTRY_COMPARE_WITH_TIMEOUT(In<QLabel>(form, "StateLabel")->text(),
                                  QString("Сеть не поддерживает этот запрос."), kAnswerWait);
    });
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_EQ(dialogs_.Messages()[0].text, "Введите код запроса, например *100#.");
    EXPECT_EQ(dialogs_.Messages()[1].text, "Сеть не поддерживает этот запрос.");
}

// With two modems the window asks which; a session stays on the modem picked, its
// reply and its end included, and the other modem hears none of it.
class UssdPoolTest : public UssdFormTest {
  protected:
    UssdPoolTest() : UssdFormTest(2) {}
    void SetUp() override {
        ASSERT_TRUE(profile::WriteString(home_.File("Config.ini"), "Modem 2", "SerialPort",
                                         modems_.ComName(2)));
        UssdFormTest::SetUp();
        // The modems are offered, by their IMEIs, once their workers opened them.
        ASSERT_TRUE(::velka::testing::Eventually([&] {
            const auto modems = core_.PoolModems();
            return modems.size() == 2 && !modems[1].seen.identity.imei.empty() &&
                   !modems[1].seen.identity.iccid.empty();
        }));
    }
};

TEST_F(UssdPoolTest, ASessionGoesThroughTheModemPickedToItsEnd) {
    InUssdWindow([&](QDialog& form) {
        ASSERT_TRUE(In<QWidget>(form, "ModemPanel")->isVisibleTo(&form));
        auto* modems = In<QComboBox>(form, "ModemCombo");
        ASSERT_EQ(modems->count(), 2);
        EXPECT_TRUE(modems->itemText(1).startsWith(QString::fromStdString(modems_.ComName(2))))
            << modems->itemText(1).toStdString();
        modems->setCurrentIndex(1);
        Send(form, "*111#");
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Меню:\n1 Баланс\n2 Тарифы"), kAnswerWait);
        In<QLineEdit>(form, "ReplyEdit")->setText("2");
        In<QPushButton>(form, "ReplyButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Тарифы:\n1 Базовый\n2 Безлимит"),
                                  kAnswerWait);
        Screenshots::Save(form, "ussd-pool");
        In<QPushButton>(form, "EndButton")->click();
    });
    EXPECT_TRUE(::velka::testing::Eventually(
        [&] { return Count(modems_.Written(2), "AT+CUSD=2\r") == 1; }));
    EXPECT_EQ(Count(modems_.Written(2), "AT+CUSD=1,"), 2u);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CUSD"), 0u);
    for (const ShownMessage& shown : dialogs_.Messages()) ADD_FAILURE() << shown.text.toStdString();
}

TEST_F(UssdFormTest, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    InUssdWindow([&](QDialog& form) {
        Send(form, "*111#");
        QTRY_VERIFY_WITH_TIMEOUT(In<QPushButton>(form, "ReplyButton")->isEnabled(), kAnswerWait);
        Screenshots::Save(form, "ussd-menu");
        In<QPushButton>(form, "EndButton")->click();
        Send(form, "*100#");
        QTRY_COMPARE_WITH_TIMEOUT(Answer(form), QString("Баланс: 57,10 р."), kAnswerWait);
        Screenshots::Save(form, "ussd-balance");
    });
}

}  // namespace
}  // namespace velka::gui::testing
