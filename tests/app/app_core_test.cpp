// The application core and its worker against virtual modems: start-up from
// Config.ini, the order of sends, what becomes of failing and unsendable records,
// reception, a modem that vanishes, and closing.
#include "app/app_core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "app/status_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "store/joined_box.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"
#include "tests/support/box_held.h"

namespace velka::app {
namespace {

using std::chrono::seconds;
using testing::Count;
using testing::Eventually;

class AppCoreTest : public testing::CoreOnModemsTest {
  protected:
    AppCoreTest() : CoreOnModemsTest(3) {}

    void Configure(const std::string& port, bool reception) {
        ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), port, reception));
    }
    Status Start() { return core_.Start(outcomes_.Events()); }
    std::uint64_t Queue(const std::string& number, const std::string& text) {
        return testing::QueueOne(core_, number, text);
    }
    bool WaitSent(std::uint64_t id, seconds limit = seconds(60)) {
        return outcomes_.WaitUntil([&] { return outcomes_.Count(id, SendOutcome::Sent) > 0; },
                                   limit);
    }
    // "no number" cannot be sent; "fine" goes out after it. Ends with the worker
    // shut down.
    void SendAnUnsendableRecordThenAGoodOne() {
        Configure(modems_.ComName(1), false);
        ASSERT_TRUE(Start().ok());
        const auto bad = Queue("", "no number");
        const auto good = Queue("+79990000002", "fine");
        ASSERT_TRUE(WaitSent(good));
        core_.Shutdown();
        EXPECT_EQ(outcomes_.Count(bad, SendOutcome::Unsendable), 1u);
    }
    std::vector<packet> Box(const char* name) { return *store::Load(home_.File(name)); }
    std::vector<std::string> Texts(const char* name) {
        std::vector<std::string> texts;
        for (const auto& record : Box(name)) texts.emplace_back(record.text_text());
        return texts;
    }
};

TEST_F(AppCoreTest, AModemAnotherProgramProbesAtFirstIsOpenedAgainAndSendsOnceItIsLeftAlone) {
    // ModemManager's probe of a freshly plugged modem: every command of the first
    // two seconds is lost among its own and answered with its traffic.
    modems_.Control("fault 1 foreign 2000");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    const auto id = Queue("+79990000002", "after the probe");
    ASSERT_TRUE(WaitSent(id));
    EXPECT_GE(Count(modems_.Control("transcript 1"), "+GCAP: +CGSM"), 1u);
    core_.Shutdown();
    EXPECT_EQ(Texts(kOutboxFile).size(), 1u);
    EXPECT_EQ(outcomes_.CountAll(SendOutcome::Sent), 1u);
}

TEST_F(AppCoreTest, WithoutConfigIniNoWorkerStartsAndReceptionIsOn) {
    EXPECT_TRUE(Start().ok());
    EXPECT_FALSE(core_.WorkerRunning());
    EXPECT_TRUE(core_.ReceptionEnabled());
    EXPECT_EQ(core_.PortNumber(), 0);
}

TEST_F(AppCoreTest, APortThatIsNoNumberGivesTheMessageAndStartsNoWorker) {
    Configure("COM1x", false);
    const Status started = Start();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error().message, "'1x' is not a valid integer value");
    EXPECT_FALSE(core_.WorkerRunning());
    EXPECT_FALSE(core_.ReceptionEnabled());
}

TEST_F(AppCoreTest, SendsQueuedRecordsInOrderAfterTheOutboxsEarlierRecords) {
    std::vector<packet> old(10, MakePacket("+7000", "01.01.2026 1:00:00", "old"));
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File(kOutboxFile)),
                            home_.File(kOutboxFile), old));
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    EXPECT_EQ(core_.PortNumber(), modems_.ComNumber(1));
    Queue("+79990000002", "one");
    Queue("+79990000003", "two");
    const auto last = Queue("+79990000002", "three");
    ASSERT_TRUE(WaitSent(last));
    const auto texts = Texts(kOutboxFile);
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 10, texts.end()),
              (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(EncodePacket(Box(kOutboxFile)[0]), EncodePacket(old[0]));
    EXPECT_EQ(modems_.Store(2).size(), 2u);
    EXPECT_EQ(modems_.Store(3).size(), 1u);
}

// Sent to the modem's own number, a text in Russian, Greek, Chinese and Arabic with
// emoji goes out whole (UCS2, in parts whose surrogate pairs stay whole), comes
// back through reception, and both boxes show it as typed; the records keep "?"
// for what Windows-1251 lacks.
TEST_F(AppCoreTest, ATextBeyondTheCodePageGoesOutWholeAndComesBackWhole) {
    Configure(modems_.ComName(1), true);
    ASSERT_TRUE(Start().ok());
    std::u16string whole =
        u"Привет \U0001F44D \u0393\u03B5\u03B9\u03AC \u4F60\u597D \u0645\u0631\u062D\u0628\u0627 ";
    // 38 units of signature, 24 of words, 63 emoji: every cut of 63 units would fall
    // inside a pair, so each part carries 62 and the text takes four.
    while (whole.size() < 150) whole += u"\U0001F600";
    const std::string text = codepage::FromUtf16(whole);
    const packet record = MakePacket("+79990000001", "09.12.2026 10:00:00", text);
    const auto ids = core_.Enqueue({&record, 1}, whole);
    ASSERT_TRUE(ids.ok());
    ASSERT_TRUE(WaitSent(ids->front()));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 4; }));
    core_.Shutdown();

    const auto outbox = store::JoinedBox::Open(home_.File(kOutboxFile));
    ASSERT_TRUE(outbox.ok());
    ASSERT_EQ(outbox->size(), 1u);
    EXPECT_EQ(outbox->at(0).text, text);
    EXPECT_EQ(outbox->at(0).WholeText(), whole);
    const auto inbox = store::JoinedBox::Open(home_.File(kInboxFile));
    ASSERT_TRUE(inbox.ok());
    ASSERT_EQ(inbox->size(), 1u) << "the four parts join";
    EXPECT_EQ(inbox->at(0).WholeText(), codepage::ToUtf16(kSignature) + whole);
}

TEST_F(AppCoreTest, AnUnsendableRecordGoesToUnsentAndTheNextOneIsSent) {
    ASSERT_NO_FATAL_FAILURE(SendAnUnsendableRecordThenAGoodOne());
    EXPECT_EQ(Texts(kUnsentFile), std::vector<std::string>{"no number"});
    EXPECT_EQ(Texts(kOutboxFile), std::vector<std::string>{"fine"});
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS="), 1u);
}

// A kill between appending an unsendable record to unsent.db and its Finished
// entry. The first run is refused the append (unsent.db leads into a folder that
// is not there), so it ends with what that kill leaves in queue.db; then the
// append is made as if it had gone through, and a second worker starts over both.
TEST_F(AppCoreTest, ARestartAfterAKillAtTheAppendToUnsentLeavesTheRecordThereOnce) {
    const std::string unsent = home_.File(kUnsentFile);
    std::filesystem::create_symlink(home_.File("missing/unsent.db"), unsent);
    ASSERT_NO_FATAL_FAILURE(SendAnUnsendableRecordThenAGoodOne());

    QueueFile file(home_.File(kQueueFile));
    const auto left = file.Load();
    ASSERT_TRUE(left.ok());
    ASSERT_EQ(left->records.size(), 1u);
    EXPECT_EQ(left->records[0].outbox_mark, 0u) << "unsent.db's end, noted before the append";
    std::filesystem::remove(unsent);
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(unsent), unsent,
                            std::vector<packet>{left->records[0].record}));

    AppCore second(home_.path());
    ASSERT_TRUE(second.Start().ok());
    ASSERT_TRUE(Eventually([&] { return *second.QueuedCount() == 0; }));
    second.Shutdown();
    EXPECT_EQ(Texts(kUnsentFile), std::vector<std::string>{"no number"});
    EXPECT_EQ(Texts(kOutboxFile), std::vector<std::string>{"fine"});
}

TEST_F(AppCoreTest, AFailedRecordPausesWhileTheOthersGoOn) {
    modems_.Control("fault 1 send-error 500");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    const auto refused = Queue("+79990000002", "refused first");
    ASSERT_TRUE(
        outcomes_.WaitUntil([&] { return outcomes_.Count(refused, SendOutcome::Failed) > 0; }));
    modems_.Control("fault 1 clear");
    const auto next = Queue("+79990000003", "next");
    ASSERT_TRUE(WaitSent(next));
    ASSERT_TRUE(WaitSent(refused));
    EXPECT_EQ(Texts(kOutboxFile), (std::vector<std::string>{"next", "refused first"}));
    const auto sends = outcomes_.Sends();
    EXPECT_GE(sends.back().at - sends.front().at, RetryPause(1)) << "the refused record rested";
}

// A directory in the file's place makes every write of outbox.db fail, as a full
// disk would; the sent records wait and land in order once the disk takes them.
TEST_F(AppCoreTest, SentRecordsTheDiskRefusedLandOnceItTakesThemAgain) {
    const std::string outbox = home_.File(kOutboxFile);
    ASSERT_TRUE(std::filesystem::create_directory(outbox));
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(WaitSent(Queue("+79990000002", "first")));
    ASSERT_TRUE(WaitSent(Queue("+79990000002", "second")));
    EXPECT_EQ(modems_.Store(2).size(), 2u);
    EXPECT_EQ(outcomes_.StoreFailures(), std::vector<StoreFile>{StoreFile::Outbox})
        << "said once, when the writes started failing";
    {
        const auto held = velka::testing::BoxHeld(outbox);
        std::filesystem::remove(outbox);
    }
    // The idle pass writes them without waiting for another send.
    EXPECT_TRUE(
        Eventually([&] { return files::Exists(outbox) && Texts(kOutboxFile).size() == 2; }));
    ASSERT_TRUE(WaitSent(Queue("+79990000003", "third")));
    core_.Shutdown();
    EXPECT_EQ(Texts(kOutboxFile), (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(AppCoreTest, ARecordTheDiskRefusedIsWrittenWhenTheProgramCloses) {
    const std::string outbox = home_.File(kOutboxFile);
    ASSERT_TRUE(std::filesystem::create_directory(outbox));
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(WaitSent(Queue("+79990000002", "sent while the disk was full")));
    // Whether the idle pass or the worker's last act writes it, it is there once
    // the program has closed.
    {
        const auto held = velka::testing::BoxHeld(outbox);
        std::filesystem::remove(outbox);
    }
    core_.RequestStop();
    core_.Shutdown();
    EXPECT_EQ(Texts(kOutboxFile), std::vector<std::string>{"sent while the disk was full"});
}

TEST_F(AppCoreTest, QueueingNeverWaitsForAModemThatIsSlowToAnswer) {
    modems_.Control("fault 1 silent on");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    Queue("+79990000002", "waits");
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "AT\r") >= 2; }));
    auto queued = std::async(std::launch::async, [&] { Queue("+79990000002", "also waits"); });
    EXPECT_EQ(queued.wait_for(seconds(3)), std::future_status::ready)
        << "the initialisation waits 5.5 s; the lock must not be held through it";
}

TEST_F(AppCoreTest, AModemThatVanishesIsUsedAgainWhenItComesBack) {
    modems_.Control("drop 1");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    const auto id = Queue("+79990000002", "after the plug");
    modems_.Control("restore 1");
    ASSERT_TRUE(WaitSent(id));
    modems_.Control("drop 1");
    const auto second = Queue("+79990000002", "after a second unplug");
    modems_.Control("restore 1");
    ASSERT_TRUE(WaitSent(second));
    EXPECT_EQ(modems_.Store(2).size(), 2u);
}

TEST_F(AppCoreTest, ReceivesIntoTheInboxWhenReceptionIsSwitchedOn) {
    modems_.Control("inject 1 +79161234567 first");
    modems_.Control("inject 1 +79161234567 second");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    core_.SetReceptionEnabled(true);
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 2; }));
    EXPECT_EQ(Texts(kInboxFile), (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(AppCoreTest, MessagesTheInboxRefusedStayOnTheModemUntilItTakesThem) {
    const std::string inbox = home_.File(kInboxFile);
    ASSERT_TRUE(std::filesystem::create_directory(inbox));
    modems_.Control("inject 1 +79161234567 first");
    modems_.Control("inject 1 +79161234567 second");
    Configure(modems_.ComName(1), true);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.StoreFailureCount() > 0; }));
    // A second failing cycle says nothing new.
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "AT+CMGL") >= 2; }));
    EXPECT_EQ(outcomes_.StoreFailures(), std::vector<StoreFile>{StoreFile::Inbox});
    EXPECT_EQ(modems_.Store(1).size(), 2u);
    {
        const auto held = velka::testing::BoxHeld(inbox);
        std::filesystem::remove(inbox);
    }
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 2; }));
    core_.Shutdown();
    EXPECT_EQ(Texts(kInboxFile), (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(AppCoreTest, ClosingInTheMiddleOfASendTakesWellUnderASecond) {
    modems_.Control("fault 1 confirm-delay 60000");
    Configure(modems_.ComName(1), true);
    ASSERT_TRUE(Start().ok());
    Queue("+79990000002", "never confirmed");
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "\x1A") == 1; }));
    const auto started = std::chrono::steady_clock::now();
    core_.RequestStop();
    core_.Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(5));
    EXPECT_FALSE(files::Exists(home_.File(kOutboxFile)));
}

TEST_F(AppCoreTest, ARecordQueuedAfterTheCloseQueryIsNeverSent) {
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    core_.RequestStop();
    Queue("+79990000002", "too late");
    core_.Shutdown();
    EXPECT_EQ(Count(modems_.Written(1), "AT+CMGS"), 0u);
    EXPECT_TRUE(outcomes_.Sends().empty());
    EXPECT_EQ(*core_.QueuedCount(), 1u) << "kept for the next start";
}

TEST_F(AppCoreTest, RecordsLeftQueuedAtTheCloseGoOutInTheirOrderAtTheNextStart) {
    {
        AppCore without_port(home_.path());
        ASSERT_TRUE(without_port.Start().ok());
        const std::vector<packet> records = {MakePacket("+79990000002", "", "first"),
                                             MakePacket("+79990000003", "", "second")};
        ASSERT_TRUE(without_port.Enqueue(records).ok());
        without_port.Shutdown();
        EXPECT_EQ(*without_port.QueuedCount(), 2u);
    }
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) == 2; }));
    core_.Shutdown();
    EXPECT_EQ(Texts(kOutboxFile), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(*core_.QueuedCount(), 0u);
}

// What a process killed in the middle of its work leaves in queue.db: a long text
// whose first segment the modem confirmed, a record whose messages were all
// confirmed but never recorded, one recorded but not marked finished, and one not
// yet tried.
TEST_F(AppCoreTest, AWorkerRestartedOverAQueueLeftByAKilledProcessGoesOnWhereItStopped) {
    const packet recorded = MakePacket("+79161110003", "08.12.2026 9:00:00", "recorded");
    ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File(kOutboxFile)),
                            home_.File(kOutboxFile), std::vector<packet>{recorded}));
    QueueFile file(home_.File(kQueueFile));
    std::vector<QueuedRecord> left(4);
    const std::string long_text(400, 'x');
    left[0].record = MakePacket("+79161110001", "08.12.2026 9:00:00", long_text);
    left[0].confirmed = 1;
    left[0].segments = 3;
    left[0].reference = "2A";
    left[1].record = MakePacket("+79161110002", "08.12.2026 9:00:00", "accepted");
    left[2].record = recorded;
    left[3].record = MakePacket("+79161110004", "08.12.2026 9:00:00", "fresh");
    for (auto& item : left) item.id = NewRecordId();
    ASSERT_TRUE(file.AppendRecords(left));
    ASSERT_TRUE(file.AppendConfirmed(left[0], 0));
    left[1].confirmed = left[1].segments = 1;
    ASSERT_TRUE(file.AppendConfirmed(left[1], kPacketSize));
    left[2].confirmed = left[2].segments = 1;
    ASSERT_TRUE(file.AppendConfirmed(left[2], 0));

    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(WaitSent(left[0].id));
    ASSERT_TRUE(WaitSent(left[3].id));
    core_.Shutdown();

    EXPECT_EQ(Texts(kOutboxFile),
              (std::vector<std::string>{"recorded", "accepted", long_text, "fresh"}));
    const auto outside = modems_.Outside();
    ASSERT_EQ(outside.size(), 3u) << "segments 2 and 3, then the fresh record; nothing twice";
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& octets = outside[i].data.octets;
        ASSERT_TRUE(outside[i].data.has_header);
        EXPECT_EQ(octets[3], 0x2A) << "the same reference";
        EXPECT_EQ(octets[4], 3);
        EXPECT_EQ(octets[5], i + 2) << "going on with the first unconfirmed segment";
        EXPECT_EQ(outside[i].destination, "+79161110001");
    }
    EXPECT_EQ(outside[2].destination, "+79161110004");
    EXPECT_EQ(*core_.QueuedCount(), 0u);
}

// A text begun in UCS2 parts of 67 goes on in them after a restart with the
// setting off, so that the recipient's phone joins its four parts.
TEST_F(AppCoreTest, ATextCutShortGoesOnInThePartsItBeganWithWhateverTheSettingSaysNow) {
    QueueFile file(home_.File(kQueueFile));
    std::vector<QueuedRecord> left(1);
    left[0].record = MakePacket("+79161110001", "08.12.2026 9:00:00",
                                std::string(230, '\xE6'));  // 230 Russian letters
    left[0].id = NewRecordId();
    ASSERT_TRUE(file.AppendRecords(left));
    left[0].confirmed = 1;
    left[0].segments = 4;
    left[0].reference = "2B";
    left[0].room = modem::SegmentRoom::Full;
    ASSERT_TRUE(file.AppendConfirmed(left[0], 0));

    Configure(modems_.ComName(1), false);  // FullUcs2Parts missing: designed parts
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(WaitSent(left[0].id));
    core_.Shutdown();

    const auto outside = modems_.Outside();
    ASSERT_EQ(outside.size(), 3u) << "parts 2 to 4 of 4, where the designed parts make 5";
    for (std::size_t i = 0; i < outside.size(); ++i) {
        const auto& octets = outside[i].data.octets;
        EXPECT_EQ(octets[3], 0x2B);
        EXPECT_EQ(octets[4], 4);
        EXPECT_EQ(octets[5], i + 2);
    }
}

TEST_F(AppCoreTest, ADamagedQueueFileIsToldAndTheReadableRecordsAreSent) {
    const packet record = MakePacket("+79990000002", "", "readable");
    ASSERT_TRUE(core_.Enqueue({&record, 1}).ok());
    ASSERT_TRUE(files::AppendDurably(home_.File(kQueueFile), "VQ\x01 torn"));
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) == 1; }));
    core_.Shutdown();
    const auto damage = outcomes_.Damage();
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].bytes, 8u);
    EXPECT_EQ(*files::ReadAll(damage[0].kept_in), "VQ\x01 torn");
    EXPECT_NE(QueueDamageWarning(damage[0]).find("queue.db.damaged-"), std::string::npos);
    EXPECT_EQ(Texts(kOutboxFile), std::vector<std::string>{"readable"});
}

TEST_F(AppCoreTest, ASecondCoreFindsTheModemTakenAndItsRecordsGoThroughTheRunningWorker) {
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    ASSERT_TRUE(core_.WorkerRunning());
    AppCore second(home_.path());
    ASSERT_TRUE(second.Start().ok());
    EXPECT_FALSE(second.WorkerRunning());
    ASSERT_TRUE(second.OtherWorker().has_value());
    EXPECT_EQ(second.OtherWorker()->pid, ThisProcess().pid);
    EXPECT_EQ(second.PortNumber(), modems_.ComNumber(1));

    const packet record = MakePacket("+79990000002", "", "through the other worker");
    const auto ids = second.Enqueue({&record, 1});
    ASSERT_TRUE(ids.ok());
    ASSERT_TRUE(WaitSent(ids->front()));
    second.Shutdown();
    core_.Shutdown();
    EXPECT_EQ(Texts(kOutboxFile), std::vector<std::string>{"through the other worker"});
}

TEST_F(AppCoreTest, ReceivingOnceWhileAnotherDrivesTheModemNamesIt) {
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(Start().ok());
    AppCore second(home_.path());
    const auto report = second.ReceiveOnce();
    ASSERT_FALSE(report.ok());
    EXPECT_NE(report.error().message.find("pid " + std::to_string(ThisProcess().pid)),
              std::string::npos)
        << report.error().message;
}

TEST(AppNotices, TheClosingNoticeCountsInRussian) {
    EXPECT_EQ(codepage::ToUtf8(ClosingWithQueuedNotice(1)),
              "В очереди осталось 1 сообщение. Оно будет отправлено при следующем запуске "
              "программы.");
    EXPECT_EQ(codepage::ToUtf8(ClosingWithQueuedNotice(3)),
              "В очереди осталось 3 сообщения. Они будут отправлены при следующем запуске "
              "программы.");
    EXPECT_NE(codepage::ToUtf8(ClosingWithQueuedNotice(11)).find("11 сообщений. Они"),
              std::string::npos);
    EXPECT_NE(codepage::ToUtf8(ClosingWithQueuedNotice(21)).find("21 сообщение. Оно"),
              std::string::npos);
    EXPECT_NE(codepage::ToUtf8(ClosingWithQueuedNotice(200)).find("200 сообщений"),
              std::string::npos);
}

TEST(AppNotices, TheOtherWorkerNoticeNamesTheProgramAndItsProcess) {
    EXPECT_EQ(codepage::ToUtf8(OtherWorkerNotice(LockHolder{4321, "velka-sms-cli"})),
              "С модемом уже работает программа velka-sms-cli (процесс 4321). Сообщения будут "
              "поставлены в очередь и отправлены ею.");
}

}  // namespace
}  // namespace velka::app
