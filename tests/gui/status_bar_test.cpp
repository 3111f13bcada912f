// The status bar, the queue view, notifications and the unread count, on the real
// window offscreen over virtual modems: what the bar says for a ready modem, a SIM
// that wants its PIN, a port that is gone, a queue under way and a refused send;
// a queued record removed after a question, the one being sent refused; the
// notification's words and an unread count that survives a restart; a minimised
// window hidden to the tray and brought back or closed from there.
#include <QCoreApplication>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <algorithm>
#include <functional>

#include "app/balance.h"
#include "app/queue_view.h"
#include "gui/notifier.h"
#include "gui/qt_text.h"
#include "platform/datetime.h"
#include "platform/profile.h"
#include "settings/sim_settings.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

using ::velka::testing::Count;
using ::velka::testing::Eventually;

// What the window would have shown in the tray.
class RecordingNotifier final : public Notifier {
  public:
    struct Notice {
        QString title;
        QString text;
    };
    void Notify(const QString& title, const QString& text) override {
        notices.push_back({title, text});
    }
    void ShowModemState(modem::ModemState state, const QString& tooltip) override {
        last_state = state;
        last_tooltip = tooltip;
    }
    bool InTray() const override { return in_tray; }
    std::vector<Notice> notices;
    bool in_tray = true;
    modem::ModemState last_state = modem::ModemState::Unknown;
    QString last_tooltip;
};

bool OnWindow(const std::function<bool()>& condition) {
    return Eventually([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

class StatusBarTest : public ::testing::Test {
  protected:
    StatusBarTest() { ::setenv("VELKA_HOME", home_.path().c_str(), 1); }
    ~StatusBarTest() override {
        window_.reset();
        IgnoreFailure(Registry::Machine().DeleteKey(contacts::kContactKey));
    }

    void Configure(const std::string& port, bool reception) {
        const std::string ini = home_.File("Config.ini");
        ASSERT_TRUE(profile::WriteString(ini, "DEVICEMAP", "SerialPort", port));
        ASSERT_TRUE(
            profile::WriteString(ini, "DEVICEMAP", "PerformMailCheck", reception ? "1" : "0"));
    }
    // Notifications go to the recorder from the first worker event on: the worker
    // starts inside the window's constructor, and its events wait in the queue of
    // the window's thread until this test lets them run.
    void Open() {
        core_ = std::make_unique<app::AppCore>(home_.path());
        window_ = std::make_unique<TMainForm>(dialogs_, Registry::Machine(), *core_);
        window_->UseNotifier(notifier_);
        window_->resize(900, 560);
        window_->show();
    }
    void Close() {
        window_->close();
        window_.reset();
        core_.reset();
    }
    QString Label(const char* name) {
        return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    void Queue(const std::string& number, const std::string& text, int count = 1) {
        std::vector<packet> records(static_cast<std::size_t>(count),
                                    MakePacket(number, "07.12.2026 10:00:00", W(text)));
        ASSERT_TRUE(core_->Enqueue(records).ok());
    }
    void Picture(const std::string& name) {
        QCoreApplication::processEvents();
        Screenshots::Save(*window_, name);
    }

    velka::testing::SimModems modems_{2};
    velka::testing::TempDir home_;
    ScriptedDialogs dialogs_;
    RecordingNotifier notifier_;
    std::unique_ptr<app::AppCore> core_;
    std::unique_ptr<TMainForm> window_;
};

TEST_F(StatusBarTest, AReadyModemShowsItsPortOperatorAndSignalAndTheQueue) {
    Configure(modems_.ComName(1), false);
    Open();
    const QString ready = QString::fromStdString(modems_.ComName(1)) +
                          QStringLiteral(": готов, Velka Net, сигнал: хороший");
    Queue("+79990000002", "hello");
    ASSERT_TRUE(OnWindow([&] { return Label("ModemLabel") == ready; }))
        << Label("ModemLabel").toStdString();
    ASSERT_TRUE(OnWindow([&] { return Label("QueueLabel") == QStringLiteral("В очереди: 0"); }));
    EXPECT_EQ(Label("BulkLabel"), "") << "the bulk ended with the queue";
    EXPECT_FALSE(window_->findChild<QLabel*>("BulkLabel")->isVisible())
        << "a part with nothing to say leaves no empty panel";
    EXPECT_TRUE(window_->findChild<QLabel*>("ModemLabel")->isVisible());
    EXPECT_EQ(notifier_.last_state, modem::ModemState::Ready);
    EXPECT_EQ(notifier_.last_tooltip, ready);
    EXPECT_TRUE(OnWindow([&] {
        return window_->findChild<QLabel*>("ModemLabel")->toolTip() ==
               QStringLiteral("Новые сообщения: модем извещает о них сразу");
    })) << "the tool tip says how new messages come";
    Picture("statusbar-ready");
}

TEST_F(StatusBarTest, ABulkSendCountsWhatWentOutOfAllQueued) {
    modems_.Control("fault 1 confirm-delay 200");
    Configure(modems_.ComName(1), false);
    Open();
    Queue("+79990000002", "bulk", 6);
    ASSERT_TRUE(OnWindow([&] {
        const QString bulk = Label("BulkLabel");
        return bulk.startsWith(QStringLiteral("Отправлено ")) && bulk.endsWith(" из 6") &&
               bulk != QStringLiteral("Отправлено 0 из 6");
    }));
    const QString queued = Label("QueueLabel");
    EXPECT_TRUE(queued.startsWith(QStringLiteral("В очереди: "))) << queued.toStdString();
    EXPECT_NE(queued, QStringLiteral("В очереди: 0"));
    Picture("statusbar-bulk");
    ASSERT_TRUE(OnWindow([&] { return Label("BulkLabel").isEmpty(); }));
    EXPECT_EQ(Label("QueueLabel"), QStringLiteral("В очереди: 0"));
}

TEST_F(StatusBarTest, ARefusedSendShowsTheModemsAnswerAndTheNextAttempt) {
    modems_.Control("fault 1 send-error 500");
    Configure(modems_.ComName(1), false);
    Open();
    Queue("+79990000002", "refused");
    ASSERT_TRUE(OnWindow([&] {
        return Label("FailureLabel")
            .startsWith(QStringLiteral("Модем отказал (+CMS ERROR: 500), повтор через "));
    })) << Label("FailureLabel").toStdString();
    EXPECT_TRUE(Label("FailureLabel").endsWith(QStringLiteral(" с")));
    EXPECT_EQ(Label("QueueLabel"), QStringLiteral("В очереди: 1"));
    Picture("statusbar-refused");
    // In a window narrower than the whole line the panel stays inside the bar and
    // shortens its middle: the countdown at the end stays in view, and the tool tip
    // holds the whole text.
    window_->resize(640, 480);
    QCoreApplication::processEvents();
    auto* failure = window_->findChild<QLabel*>("FailureLabel");
    auto* bar = window_->findChild<QStatusBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_LE(failure->geometry().right(), bar->width());
    const int room = failure->contentsRect().width() - 2 * failure->margin();
    ASSERT_LT(room, failure->fontMetrics().horizontalAdvance(failure->text())) << "the text is cut";
    const QString shown = failure->fontMetrics().elidedText(failure->text(), Qt::ElideMiddle, room);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Модем"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(" с"))) << shown.toStdString();
    EXPECT_EQ(failure->toolTip(), failure->text());
    Picture("statusbar-refused-narrow");
    modems_.Control("fault 1 clear");
    ASSERT_TRUE(OnWindow([&] { return Label("FailureLabel").isEmpty(); }))
        << "a send that went through ends the failure's line";
}

TEST_F(StatusBarTest, ASimAtItsLimitSaysWhyAndUntilWhenInTheBar) {
    modems_.Control("identity 1 iccid 89701990000000000017");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(settings::WriteSimSettings(home_.File("Config.ini"), "89701990000000000017",
                                           {W("Рабочая"), {.per_day = 1}}));
    Open();
    Queue("+79990000002", "first");
    Queue("+79990000002", "second");
    ASSERT_TRUE(OnWindow([&] {
        return Label("FailureLabel")
            .startsWith(QStringLiteral("Лимит SIM «Рабочая» (сообщений в сутки: 1); отправка "
                                       "продолжится "));
    })) << Label("FailureLabel").toStdString();
    // At the next midnight, which shows as the date alone.
    const DateTime today = NowLocal();
    const DateTime tomorrow =
        LocalTimeAt(MomentOfLocal({today.year, today.month, today.day, 12, 0, 0}) + 86400);
    EXPECT_TRUE(Label("FailureLabel")
                    .endsWith(ToQt(FormatDateTime({tomorrow.year, tomorrow.month, tomorrow.day}))))
        << Label("FailureLabel").toStdString();
    EXPECT_EQ(Label("QueueLabel"), QStringLiteral("В очереди: 1"));
    Picture("statusbar-sim-limit");
}

TEST_F(StatusBarTest, ASimThatWantsItsPinSaysSoInTheBar) {
    modems_.Control("fault 1 pin 1234");
    Configure(modems_.ComName(1), false);
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });  // the PIN question
    Open();
    const QString pin =
        QString::fromStdString(modems_.ComName(1)) + QStringLiteral(": нужен PIN-код");
    Queue("+79990000002", "waits for the PIN");
    ASSERT_TRUE(OnWindow([&] { return Label("ModemLabel") == pin; }))
        << Label("ModemLabel").toStdString();
    Picture("statusbar-pin");
}

TEST_F(StatusBarTest, APortThatIsGoneIsSaidAndNoMessageBoxComes) {
    Configure("COM250", true);
    Open();
    ASSERT_TRUE(
        OnWindow([&] { return Label("ModemLabel") == QStringLiteral("COM250: порт не найден"); }));
    EXPECT_EQ(notifier_.last_state, modem::ModemState::PortMissing);
    EXPECT_TRUE(dialogs_.Messages().empty()) << "the bar says it; an unplugged modem is no box";
    Picture("statusbar-port-missing");
}

// The worker says it after three silences in a row, each the full wait for an
// answer; the bound is generous for a loaded machine.
TEST_F(StatusBarTest, AModemThatNeverAnswersIsSaidInTheBarAndTheTray) {
    modems_.Control("fault 1 silent on");
    Configure(modems_.ComName(1), true);
    Open();
    const QString silent =
        QString::fromStdString(modems_.ComName(1)) + QStringLiteral(": не отвечает");
    ASSERT_TRUE(Eventually(
        [&] {
            QCoreApplication::processEvents();
            return Label("ModemLabel") == silent;
        },
        std::chrono::seconds(120)))
        << Label("ModemLabel").toStdString();
    EXPECT_EQ(notifier_.last_state, modem::ModemState::NotAnswering);
    EXPECT_EQ(notifier_.last_tooltip, silent);
    EXPECT_TRUE(dialogs_.Messages().empty()) << "a passing state is no box";
    EXPECT_EQ(window_->findChild<QMessageBox*>("ModemStateBox"), nullptr);
    Picture("statusbar-not-answering");
}

// ---- The queue view ----

// Every state a row can be in, at once: a record refused by the modem rests until
// its next attempt; the modem then holds the next record's confirmation back, so it
// stays the one being sent and the one after it waits; unsent.db holds one that can
// never go. The resting one went back to the queue's end before the others came.
TEST_F(StatusBarTest, TheQueueViewShowsEachRecordsStateWithTheRefusalAndTheNextAttempt) {
    const std::vector<packet> unsent{
        MakePacket("", "07.12.2026 9:00:00", W("Без номера получателя"))};
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File(app::kUnsentFile)),
                            home_.File(app::kUnsentFile), unsent));
    contacts::ContactBook book(Registry::Machine());
    ASSERT_TRUE(book.WriteContact({W("Мария"), "+79990000002", W("Друзья")}));
    modems_.Control("fault 1 send-error 500");
    Configure(modems_.ComName(1), false);
    Open();
    Queue("+79990000002", "Встречаемся в семь у входа");
    // Refused twice: it rests 4 s, long enough for the view to find it resting.
    ASSERT_TRUE(OnWindow([&] {
        const auto rows = core_->SnapshotOfQueue().rows;
        return !rows.empty() && rows[0].state == app::QueueRowState::Resting &&
               rows[0].next_attempt - app::Clock::now() > std::chrono::seconds(3);
    }));
    modems_.Control("fault 1 clear");
    modems_.Control("fault 1 confirm-delay 60000");
    ASSERT_TRUE(
        core_
            ->Enqueue(std::vector<packet>{
                MakePacket("+79161234567", "07.12.2026 10:00:00", W("Счёт за декабрь оплачен")),
                MakePacket("+79035550101", "07.12.2026 10:00:00",
                           W("Напоминание: завтра собрание в 10:00"))})
            .ok());
    ASSERT_TRUE(OnWindow([&] {
        const auto rows = core_->SnapshotOfQueue().rows;
        return rows.size() == 4 && rows[0].state == app::QueueRowState::Sending;
    }));

    dialogs_.NameNextScreenshot("queue-view");
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        auto* table = form.findChild<QTableWidget*>("QueueTable");
        const auto cell = [&](int row, int column) { return table->item(row, column)->text(); };
        EXPECT_EQ(table->rowCount(), 4);
        if (table->rowCount() != 4) return QDialog::Rejected;
        EXPECT_EQ(cell(0, 0), QStringLiteral("+79161234567"));
        EXPECT_EQ(cell(0, 2), QStringLiteral("отправляется"));
        EXPECT_EQ(cell(1, 0), QStringLiteral("Мария (+79990000002)"));
        EXPECT_EQ(cell(1, 1), QStringLiteral("Встречаемся в семь у входа"));
        EXPECT_TRUE(
            cell(1, 2).startsWith(QStringLiteral("Модем отказал (+CMS ERROR: 500), повтор через ")))
            << cell(1, 2).toStdString();
        EXPECT_EQ(cell(2, 0), QStringLiteral("+79035550101"));
        EXPECT_EQ(cell(2, 2), QStringLiteral("ждёт"));
        EXPECT_EQ(cell(3, 1), QStringLiteral("Без номера получателя"));
        EXPECT_EQ(cell(3, 2), QStringLiteral("не может быть отправлено"));
        return QDialog::Accepted;
    });
    window_->findChild<QToolButton*>("qmQueue")->click();
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// The modem holds its confirmation back, so the first record stays the one being
// sent while the view is open.
TEST_F(StatusBarTest, TheQueueViewRefusesTheRecordBeingSentAndRemovesAWaitingOneForGood) {
    contacts::ContactBook book(Registry::Machine());
    ASSERT_TRUE(book.WriteContact({W("Мария"), "+79990000002", W("Друзья")}));
    modems_.Control("fault 1 confirm-delay 60000");
    Configure(modems_.ComName(1), false);
    Open();
    // One write: the worker takes both in before it starts the first send.
    const std::vector<packet> records{
        MakePacket("+79990000002", "07.12.2026 10:00:00", W("Первое сообщение в очереди")),
        MakePacket("+79161234567", "07.12.2026 10:00:00", W("Второе"))};
    ASSERT_TRUE(core_->Enqueue(records).ok());
    ASSERT_TRUE(OnWindow([&] {
        const auto rows = core_->SnapshotOfQueue().rows;
        return rows.size() == 2 && rows[0].state == app::QueueRowState::Sending;
    })) << core_->SnapshotOfQueue().rows.size()
        << " rows";

    dialogs_.AnswerConfirm(true);
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        auto* table = form.findChild<QTableWidget*>("QueueTable");
        auto* remove = form.findChild<QPushButton*>("RemoveButton");
        EXPECT_EQ(table->rowCount(), 2);
        EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("Мария (+79990000002)"));
        EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("Первое сообщение в очереди"));
        EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("отправляется"));
        EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("+79161234567"));
        EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("ждёт"));

        table->selectRow(0);
        remove->click();
        EXPECT_EQ(dialogs_.Messages().size(), 1u) << "the one being sent is refused, unasked";
        EXPECT_EQ(table->rowCount(), 2);

        table->selectRow(1);
        remove->click();
        EXPECT_EQ(table->rowCount(), 1) << "asked, then removed";
        return QDialog::Accepted;
    });
    window_->findChild<QToolButton*>("qmQueue")->click();
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
    ASSERT_EQ(dialogs_.Messages().size(), 2u) << "the refusal, then the question";
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
    EXPECT_EQ(dialogs_.Messages()[1].text, QStringLiteral("Удалить сообщение из очереди?"));
    EXPECT_TRUE(dialogs_.Messages()[0].text.startsWith(
        QStringLiteral("Это сообщение сейчас отправляется, и удалить его нельзя.")));
    Close();

    modems_.Control("fault 1 clear");
    Open();
    ASSERT_TRUE(OnWindow([&] { return Label("QueueLabel") == QStringLiteral("В очереди: 0"); }));
    ASSERT_TRUE(OnWindow([&] {
        const auto outbox = store::Load(home_.File("outbox.db"));
        return outbox && outbox->size() == 1;
    }));
    const auto outbox = store::Load(home_.File("outbox.db"));
    EXPECT_EQ(std::string((*outbox)[0].number_text()), "+79990000002")
        << "the removed record did not go out at the next start; the other did";
}

TEST_F(StatusBarTest, TheQueueWindowOffersNoRemovalWhenNothingWaits) {
    Configure(modems_.ComName(1), false);
    Open();
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        EXPECT_EQ(form.findChild<QTableWidget*>("QueueTable")->rowCount(), 0);
        EXPECT_FALSE(form.findChild<QPushButton*>("RemoveButton")->isEnabled());
        return QDialog::Accepted;
    });
    window_->findChild<QToolButton*>("qmQueue")->click();
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// ---- Notifications and the unread count ----

// A flash message (class 0) stands at once in a window of its own, besides the
// notification, which shows a text whole, emoji and all.
TEST_F(StatusBarTest, AFlashMessageIsShownAtOnceAndANoticeKeepsEveryCharacter) {
    Configure(modems_.ComName(1), true);
    Open();
    modems_.Control("inject 1 +79990000003 Smile \xF0\x9F\x98\x80");
    ASSERT_TRUE(OnWindow([&] { return !notifier_.notices.empty(); }));
    EXPECT_EQ(notifier_.notices.back().text, QString::fromStdU16String(u"Smile \U0001F600"));
    // From +79161234567, class 0, "Hi".
    modems_.Control("inject-pdu 1 07919700000000F0040B919761214365F700105210122143002102C834");
    QMessageBox* flash = nullptr;
    ASSERT_TRUE(OnWindow([&] {
        flash = window_->findChild<QMessageBox*>("FlashMessage");
        return flash != nullptr && flash->isVisible();
    }));
    EXPECT_EQ(flash->informativeText(), QStringLiteral("Hi"));
    EXPECT_EQ(flash->text(), QStringLiteral("От: +79161234567"));
    EXPECT_EQ(flash->windowTitle(), QStringLiteral("Флеш-сообщение"));
    EXPECT_FALSE(flash->isModal());
    Picture("flash-message");
    Close();
}

TEST_F(StatusBarTest, AnArrivalIsNotifiedAndItsUnreadCountSurvivesARestart) {
    contacts::ContactBook book(Registry::Machine());
    ASSERT_TRUE(book.WriteContact({W("Пётр"), "+79161234567", W("Друзья")}));
    Configure(modems_.ComName(1), true);
    Open();
    modems_.Control("inject 1 +79161234567 Hello from Petr");
    modems_.Control("inject 1 +79990000003 Second");
    auto* inbox_button = window_->findChild<QToolButton*>("qmInBox");
    ASSERT_TRUE(OnWindow([&] { return inbox_button->text() == QStringLiteral("Принятые (2)"); }))
        << inbox_button->text().toStdString();
    ASSERT_FALSE(notifier_.notices.empty());
    const auto& first = notifier_.notices.front();
    if (notifier_.notices.size() == 1) {
        EXPECT_EQ(first.title, QStringLiteral("Новых сообщений: 2"));
    } else {
        EXPECT_EQ(first.title, QStringLiteral("Пётр"));
    }
    EXPECT_EQ(first.text, QStringLiteral("Hello from Petr"));
    Picture("notification-unread");
    Close();

    Configure(modems_.ComName(1), false);
    Open();
    inbox_button = window_->findChild<QToolButton*>("qmInBox");
    EXPECT_EQ(inbox_button->text(), QStringLiteral("Принятые (2)")) << "kept in inbox.unread";
    window_->qmInBoxClick();
    auto* table = window_->findChild<QTableView*>("MessageTable");
    table->setCurrentIndex(table->model()->index(0, 0));
    EXPECT_EQ(inbox_button->text(), QStringLiteral("Принятые (1)")) << "read once shown";
    Close();
    Open();
    EXPECT_EQ(window_->findChild<QToolButton*>("qmInBox")->text(), QStringLiteral("Принятые (1)"));
}

// velka-sms-cli watch drives the modem; the window beside it runs no worker and
// hears of no arrival but through the files.
TEST_F(StatusBarTest, AWindowBesideAnotherReceiverShowsCountsAndTellsWhatItStores) {
    Configure(modems_.ComName(1), true);
    app::AppCore watch(home_.path());
    ASSERT_TRUE(watch.Start().ok());
    ASSERT_TRUE(watch.WorkerRunning());
    Open();
    ASSERT_FALSE(core_->WorkerRunning());
    window_->qmInBoxClick();
    auto* table = window_->findChild<QTableView*>("MessageTable");
    modems_.Control("inject 1 +79161234567 Beside the window");
    ASSERT_TRUE(OnWindow([&] { return table->model()->rowCount() == 1; }));
    EXPECT_EQ(table->model()->index(0, 2).data().toString(), QStringLiteral("Beside the window"));
    EXPECT_EQ(window_->findChild<QToolButton*>("qmInBox")->text(), QStringLiteral("Принятые (1)"));
    ASSERT_EQ(notifier_.notices.size(), 1u);
    EXPECT_EQ(notifier_.notices[0].text, QStringLiteral("Beside the window"));
    // The window's delete and the other process's next arrival keep each other.
    table->setCurrentIndex(table->model()->index(0, 0));
    dialogs_.AnswerConfirm(true);
    window_->findChild<QAction*>("actDelete")->trigger();
    modems_.Control("inject 1 +79161234567 After the delete");
    ASSERT_TRUE(OnWindow([&] {
        return table->model()->rowCount() == 1 &&
               table->model()->index(0, 2).data().toString() == "After the delete";
    }));
    watch.RequestStop();
    watch.Shutdown();
}

TEST_F(StatusBarTest, AMinimisedWindowHidesToTheTrayAndComesBackOrClosesFromItsMenu) {
    Configure(modems_.ComName(1), false);
    Open();
    const QList<QAction*> tray = window_->findChild<QMenu*>(QStringLiteral("TrayMenu"))->actions();
    ASSERT_EQ(tray.size(), 2);
    EXPECT_EQ(tray[0]->text(), QStringLiteral("Открыть"));
    EXPECT_EQ(tray[1]->text(), QStringLiteral("Выход"));

    window_->showMinimized();
    ASSERT_TRUE(OnWindow([&] { return window_->isHidden(); })) << "hidden to the tray";
    tray[0]->trigger();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(window_->isMinimized());

    notifier_.in_tray = false;
    window_->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window_->isVisible()) << "with no tray to come back from, it stays on the task bar";

    notifier_.in_tray = true;
    window_->showNormal();
    window_->showMinimized();
    ASSERT_TRUE(OnWindow([&] { return window_->isHidden(); }));
    app::AppCore other(home_.path());
    ASSERT_FALSE(other.ProbeOnce().ok()) << "the window's worker holds the modem";
    tray[1]->trigger();
    EXPECT_TRUE(other.ProbeOnce().ok()) << "the hidden window closed and let the modem go";
}

// ---- The balance watched ----

class BalanceTest : public StatusBarTest {
  protected:
    void WatchBalance(const char* code) {
        Configure(modems_.ComName(1), false);
        const std::string ini = home_.File("Config.ini");
        ASSERT_TRUE(profile::WriteString(ini, "Balance", "Code", code));
        ASSERT_TRUE(profile::WriteString(ini, "Balance", "Interval", "hourly"));
        ASSERT_TRUE(profile::WriteString(ini, "Balance", "Threshold", "10"));
    }
    std::size_t NoticesTitled(const QString& title) const {
        return static_cast<std::size_t>(std::count_if(
            notifier_.notices.begin(), notifier_.notices.end(),
            [&](const RecordingNotifier::Notice& notice) { return notice.title == title; }));
    }
};

TEST_F(BalanceTest, ALowBalanceShowsInTheStatusBarWithItsTimeAndIsNotified) {
    WatchBalance("*102#");
    Open();
    ASSERT_TRUE(OnWindow([&] { return Label("BalanceLabel").startsWith("Баланс: -5,00 ("); }))
        << Label("BalanceLabel").toStdString();
    EXPECT_EQ(window_->findChild<QLabel*>("BalanceLabel")->toolTip(), "Ваш баланс -5 руб");
    ASSERT_EQ(NoticesTitled("Низкий баланс"), 1u);
    EXPECT_EQ(notifier_.notices.back().text, "На счёте -5,00, порог 10,00.");
    Picture("statusbar-balance");
    // The operator's words are kept for the next start.
    const auto kept = app::LoadBalanceReading(home_.File(app::kBalanceFile));
    ASSERT_TRUE(kept.ok() && *kept);
    EXPECT_EQ((*kept)->text, u"Ваш баланс -5 руб");
    Close();
    modems_.Control("fault 1 silent on");
    Open();
    EXPECT_TRUE(Label("BalanceLabel").startsWith("Баланс: -5,00 ("));
}

TEST_F(BalanceTest, ABalanceAboveTheThresholdIsShownWithoutANotice) {
    WatchBalance("*100#");
    Open();
    ASSERT_TRUE(OnWindow([&] { return Label("BalanceLabel").startsWith("Баланс: 57,10 ("); }))
        << Label("BalanceLabel").toStdString();
    EXPECT_EQ(NoticesTitled("Низкий баланс"), 0u);
}

TEST_F(BalanceTest, ASendRefusedWhileTheBalanceIsLowIsNotifiedOnce) {
    WatchBalance("*102#");
    modems_.Control("fault 1 send-error 500");
    Open();
    ASSERT_TRUE(OnWindow([&] { return NoticesTitled("Низкий баланс") == 1; }));
    Queue("+79990000002", "hello");
    ASSERT_TRUE(OnWindow([&] { return NoticesTitled("Отправка отклонена") == 1; }));
    EXPECT_EQ(notifier_.notices.back().text, "Баланс низкий: -5,00 (порог 10,00). Пополните счёт.");
    // The retry is refused too, and told no more.
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "AT+CMGS=") >= 2; }));
    ASSERT_TRUE(OnWindow([&] { return Label("FailureLabel").contains("500"); }));
    EXPECT_EQ(NoticesTitled("Отправка отклонена"), 1u);
}

}  // namespace
}  // namespace velka::gui::testing
