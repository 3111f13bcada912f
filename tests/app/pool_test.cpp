// A pool of modems over one queue: a worker per modem, each record out once through
// one of them, a text's parts through one SIM, and the SIMs that cannot send (at
// their limit, switched off for sending, silent) leaving the records to the others.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/app_core.h"
#include "app/sim_limits.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "settings/pool_settings.h"
#include "settings/sim_settings.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"

namespace velka::app {
namespace {

// The virtual modems' numbers are +7999000000N; records go outside the network.
std::string Outsider(int i) {
    return "+7916555" + std::to_string(1000 + i);
}

class PoolTest : public testing::CoreOnModemsTest {
  protected:
    explicit PoolTest(std::size_t modems, std::vector<bool> second_ports = {})
        : CoreOnModemsTest(modems, std::move(second_ports)) {
        EXPECT_TRUE(testing::WriteModemConfig(Ini(), modems_.ComName(1), false));
    }
    std::string Ini() { return home_.File(kConfigFile); }
    // Modem `number` (2 and up) joins the pool.
    void AddToPool(int number, const char* key = "SerialPort", std::string value = {}) {
        if (value.empty()) value = modems_.ComName(static_cast<std::size_t>(number));
        ASSERT_TRUE(profile::WriteString(Ini(), settings::ModemSection(number), key, value));
    }
    std::size_t SendsOf(std::size_t modem) {
        return std::stoul(modems_.Control("sends " + std::to_string(modem)));
    }
    std::vector<std::uint64_t> QueueMany(int count, const std::string& text = "pool") {
        std::vector<std::uint64_t> ids;
        for (int i = 0; i < count; ++i)
            ids.push_back(testing::QueueOne(core_, Outsider(i), text + " " + std::to_string(i)));
        return ids;
    }
    bool AllSent(const std::vector<std::uint64_t>& ids, std::chrono::seconds limit) {
        return outcomes_.WaitUntil(
            [&] { return outcomes_.CountAll(SendOutcome::Sent) >= ids.size(); }, limit);
    }
};

class SixteenModems : public PoolTest {
  protected:
    SixteenModems() : PoolTest(16) {}
};

TEST_F(SixteenModems, EachRecordGoesOutOnceAndTheModemsShareTheWork) {
    for (int number = 2; number <= 16; ++number) AddToPool(number);
    // A network that takes its time, as real ones do, so that no modem can take
    // every record before the others are open.
    for (int modem = 1; modem <= 16; ++modem)
        modems_.Control("fault " + std::to_string(modem) + " confirm-delay 150");
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    EXPECT_EQ(core_.ModemCount(), 16u);
    const auto ids = QueueMany(64);
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(120)));
    core_.Shutdown();

    for (const std::uint64_t id : ids) EXPECT_EQ(outcomes_.Count(id, SendOutcome::Sent), 1u);
    std::map<std::string, int> copies;
    for (const auto& message : modems_.Outside()) ++copies[message.text];
    EXPECT_EQ(copies.size(), ids.size());
    for (const auto& [text, count] : copies) EXPECT_EQ(count, 1) << text;
    std::size_t total = 0;
    std::size_t working = 0;
    for (std::size_t modem = 1; modem <= 16; ++modem) {
        total += SendsOf(modem);
        working += SendsOf(modem) > 0 ? 1 : 0;
    }
    EXPECT_EQ(total, ids.size());
    EXPECT_GE(working, 4u) << "the records went through too few modems";
}

class ThreeModems : public PoolTest {
  protected:
    ThreeModems() : PoolTest(3) {
        AddToPool(2);
        AddToPool(3);
    }
    // Queues a text of three messages that every modem refuses after its first one,
    // and gives the modem it began on, which is then the slowest to open.
    std::size_t BeginLongText() {
        for (int modem = 1; modem <= 3; ++modem)
            modems_.Control("fault " + std::to_string(modem) + " send-limit 1");
        EXPECT_TRUE(core_.Start(outcomes_.Events()));
        id_ = testing::QueueOne(core_, Outsider(99), std::string(400, 'x'));
        EXPECT_TRUE(
            outcomes_.WaitUntil([&] { return outcomes_.Count(id_, SendOutcome::Failed) > 0; }));
        std::size_t began_on = 0;
        for (std::size_t modem = 1; modem <= 3; ++modem) {
            if (SendsOf(modem) == 1) began_on = modem;
            modems_.Control("fault " + std::to_string(modem) + " send-limit 0");
        }
        if (began_on != 0) modems_.Control("fault " + std::to_string(began_on) + " delay 200");
        return began_on;
    }
    // The senders of the messages of the long text, by concatenation reference.
    std::map<int, std::set<std::string>> SendersByReference() {
        std::map<int, std::set<std::string>> senders;
        for (const auto& message : modems_.Outside()) {
            const auto& octets = message.data.octets;
            if (message.destination == Outsider(99) && octets.size() >= 6)
                senders[octets[3]].insert(message.sender);
        }
        return senders;
    }
    static std::string NumberOf(std::size_t modem) { return "+7999000000" + std::to_string(modem); }

    std::uint64_t id_ = 0;
};

// A text cut short after its first message waits for the SIM it began on, even
// when another modem is free first, and after a restart too: its parts share one
// sender and one reference.
class TextCutShort : public ThreeModems, public ::testing::WithParamInterface<bool> {};

TEST_P(TextCutShort, GoesOnThroughTheSimItBeganOn) {
    const std::size_t began_on = BeginLongText();
    ASSERT_NE(began_on, 0u);
    testing::Outcomes later;
    std::optional<AppCore> restarted;
    if (GetParam()) {
        core_.Shutdown();
        restarted.emplace(home_.path());
        ASSERT_TRUE(restarted->Start(later.Events()));
    }
    testing::Outcomes& outcomes = GetParam() ? later : outcomes_;
    ASSERT_TRUE(outcomes.WaitUntil([&] { return outcomes.Count(id_, SendOutcome::Sent) == 1; }));
    EXPECT_EQ(modems_.Outside().size(), 3u);
    const auto senders = SendersByReference();
    ASSERT_EQ(senders.size(), 1u) << "one reference";
    EXPECT_EQ(senders.begin()->second, std::set<std::string>{NumberOf(began_on)});
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutARestart, TextCutShort, ::testing::Bool());

// The SIM it began on stops answering: after the pinned wait another sends the
// text again whole, under a reference of its own.
// A modem the user named sends its records alone; a number that wrote to a SIM is
// answered through it, in this run and, from the boxes' notes, after a restart.
TEST_F(ThreeModems, ARecordGoesThroughTheModemNamedForItAndANumberBackThroughItsSim) {
    ASSERT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", "PerformMailCheck", "1"));
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    std::vector<std::uint64_t> ids;
    const packet named = MakePacket(Outsider(1), "10.12.2026 10:00:00", "named");
    for (int i = 0; i < 4; ++i) {
        const auto queued = core_.Enqueue({&named, 1}, {}, Route{modems_.ComName(3), true});
        ASSERT_TRUE(queued);
        ids.push_back(queued->front());
    }
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    EXPECT_EQ(SendsOf(3), 4u);

    modems_.Control("inject 2 " + Outsider(7) + " hello");
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 1; }));
    for (int i = 0; i < 3; ++i) ids.push_back(testing::QueueOne(core_, Outsider(7), "reply"));
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    core_.Shutdown();

    AppCore restarted(home_.path());
    testing::Outcomes later;
    ASSERT_TRUE(restarted.Start(later.Events()));
    const std::uint64_t after = testing::QueueOne(restarted, Outsider(7), "after restart");
    ASSERT_TRUE(later.WaitUntil([&] { return later.Count(after, SendOutcome::Sent) == 1; }));
    restarted.Shutdown();
    std::size_t replies = 0;
    for (const auto& message : modems_.Outside()) {
        if (message.destination != Outsider(7)) continue;
        ++replies;
        EXPECT_EQ(message.sender, NumberOf(2)) << message.text;
    }
    EXPECT_EQ(replies, 4u);
}

// The port an errand for `via` ran on ("COM5"), or "refused: " and why not.
std::string RunErrand(AppCore& core, const std::string& via) {
    const auto done = std::make_shared<std::promise<std::string>>();
    std::future<std::string> result = done->get_future();
    core.RunOnModem({[done](modem::Session& session) {
                         done->set_value("COM" + std::to_string(session.PortNumber()));
                     },
                     [done](const Error& why) { done->set_value("refused: " + why.message); },
                     via});
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) return "no end";
    return result.get();
}

// An errand (a USSD request) for a modem named by its port, IMEI or SIM name runs
// on that modem: through its worker while the pool runs, and, for a command line
// that runs none, on the modem found by opening them in turn. One naming no modem
// is refused with the name, rather than waiting for the program's end.
TEST_F(ThreeModems, AnErrandNamedForAModemRunsOnThatModemWithTheWorkersAndWithout) {
    ASSERT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", "PerformMailCheck", "1"));
    std::string imei2;
    const std::string named = codepage::FromUtf8("Рабочая");
    {
        AppCore probe(home_.path());
        ASSERT_TRUE(probe.ProbeOnce());
        const auto others = probe.ProbeOthers();
        ASSERT_EQ(others.size(), 2u);
        imei2 = others[0].modem.identity.imei;
        ASSERT_FALSE(imei2.empty());
        ASSERT_TRUE(
            settings::WriteSimSettings(Ini(), SimKey(others[1].modem.identity), {named, {}}));
    }
    // A command line's core runs one errand.
    const auto without_workers = [&](const std::string& via) {
        AppCore once(home_.path());
        return RunErrand(once, via);
    };
    EXPECT_EQ(without_workers(""), modems_.ComName(1));
    EXPECT_EQ(without_workers(imei2), modems_.ComName(2));
    EXPECT_EQ(without_workers(named), modems_.ComName(3));
    EXPECT_NE(without_workers("COM99").find("refused: "), std::string::npos);
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    ASSERT_TRUE(testing::Eventually([&] {
        const auto modems = core_.PoolModems();
        return std::all_of(modems.begin(), modems.end(), [](const auto& modem) {
            return modem.seen.status.state == modem::ModemState::Ready;
        });
    }));
    EXPECT_EQ(RunErrand(core_, ""), modems_.ComName(1));
    EXPECT_EQ(RunErrand(core_, imei2), modems_.ComName(2));
    EXPECT_EQ(RunErrand(core_, modems_.ComName(3)), modems_.ComName(3));
    EXPECT_EQ(RunErrand(core_, named), modems_.ComName(3));
    const std::string unknown = RunErrand(core_, "COM99");
    EXPECT_NE(unknown.find("refused: "), std::string::npos) << unknown;
    EXPECT_NE(unknown.find("COM99"), std::string::npos) << unknown;
    core_.Shutdown();
}

TEST_F(ThreeModems, ATextWhoseSimStoppedAnsweringGoesAgainWholeThroughAnother) {
    core_.SetPinnedWait(std::chrono::seconds(1));
    const std::size_t began_on = BeginLongText();
    ASSERT_NE(began_on, 0u);
    modems_.Control("fault " + std::to_string(began_on) + " silent on");
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.Count(id_, SendOutcome::Sent) == 1; }));
    const auto senders = SendersByReference();
    ASSERT_EQ(senders.size(), 2u) << "the beginning, then the text whole";
    std::size_t whole = 0;
    for (const auto& message : modems_.Outside()) whole += message.sender != NumberOf(began_on);
    EXPECT_EQ(whole, 3u);
    for (const auto& [reference, numbers] : senders) EXPECT_EQ(numbers.size(), 1u);
}

// A modem that refuses every send rests after a few refusals in a row, and the
// others send what it would have kept failing.
TEST_F(ThreeModems, AModemThatKeepsRefusingLeavesTheRecordsToTheOthers) {
    modems_.Control("fault 1 send-refusals 1000 500");
    for (int modem = 2; modem <= 3; ++modem)
        modems_.Control("fault " + std::to_string(modem) + " confirm-delay 50");
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const auto ids = QueueMany(12);
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    core_.Shutdown();
    EXPECT_EQ(SendsOf(1), 0u);
    EXPECT_LE(outcomes_.CountAll(SendOutcome::Failed),
              static_cast<std::size_t>(kFailuresBeforeResting));
}

TEST_F(ThreeModems, AModemNotSendingOrSilentLeavesEveryRecordToTheOthers) {
    AddToPool(2, "Send", "0");
    modems_.Control("fault 3 silent on");
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const auto ids = QueueMany(6);
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    core_.Shutdown();
    EXPECT_EQ(SendsOf(1), 6u);
    EXPECT_EQ(SendsOf(2), 0u);
    EXPECT_EQ(SendsOf(3), 0u);
}

class TwoLimitedModems : public PoolTest {
  protected:
    TwoLimitedModems() : PoolTest(2) {
        AddToPool(2);
        modems_.Control(std::string("identity 1 iccid ") + kFirstSim);
        modems_.Control(std::string("identity 2 iccid ") + kSecondSim);
    }
    void Limit(const char* sim, int per_hour) {
        ASSERT_TRUE(settings::WriteSimSettings(
            Ini(), sim, {codepage::FromUtf8("Рабочая"), {.per_hour = per_hour}}));
    }
    static constexpr char kFirstSim[] = "89701990000000000017";
    static constexpr char kSecondSim[] = "89701990000000000025";
};

TEST_F(TwoLimitedModems, ASimAtItsLimitLeavesItsRecordsToTheOther) {
    Limit(kFirstSim, 1);
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const auto ids = QueueMany(5);
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    core_.Shutdown();
    EXPECT_LE(SendsOf(1), 1u);
    EXPECT_EQ(SendsOf(1) + SendsOf(2), 5u);
}

TEST_F(TwoLimitedModems, WhenEverySimIsAtItsLimitTheRecordsWaitAndSayWhyUntilALimitIsRaised) {
    Limit(kFirstSim, 1);
    Limit(kSecondSim, 1);
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    const auto ids = QueueMany(3);
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) == 2; }));
    ASSERT_TRUE(testing::Eventually([&] {
        const auto rows = core_.SnapshotOfQueue().rows;
        return rows.size() == 1 && rows[0].state == QueueRowState::Resting;
    }));
    const std::string reason = codepage::ToUtf8(core_.SnapshotOfQueue().rows[0].refusal);
    EXPECT_TRUE(reason.starts_with("Лимит SIM «Рабочая» (сообщений в час: 1)")) << reason;
    EXPECT_EQ(SendsOf(1), 1u);
    EXPECT_EQ(SendsOf(2), 1u);

    // A limit raised wakes the resting SIMs at once, not at the next hour.
    ASSERT_TRUE(
        core_.SaveSimSettings(kSecondSim, {codepage::FromUtf8("Рабочая"), {.per_hour = 5}}));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.CountAll(SendOutcome::Sent) == 3; }));
    EXPECT_EQ(SendsOf(2), 2u);
}

// A modem plugged in again under another port is the same modem: its worker finds it
// by its IMEI, in this run and after a restart, and records named for it follow it.
class TwoModems : public PoolTest {
  protected:
    TwoModems() : PoolTest(2) {
        AddToPool(2);
        // Reception opens the modems of an idle pool, which then know their IMEIs.
        EXPECT_TRUE(profile::WriteString(Ini(), "DEVICEMAP", "PerformMailCheck", "1"));
    }
    // Queues a record only modem 2 may send, and waits until it went.
    bool SendThroughModem2(AppCore& core, testing::Outcomes& outcomes, const std::string& imei) {
        const packet record = MakePacket(Outsider(3), "10.12.2026 10:00:00", "via its IMEI");
        const auto queued = core.Enqueue({&record, 1}, {}, Route{imei, true});
        return queued &&
               outcomes.WaitUntil(
                   [&] { return outcomes.Count(queued->front(), SendOutcome::Sent) == 1; },
                   std::chrono::seconds(60));
    }
};

TEST_F(TwoModems, ARepluggedModemIsFoundOnItsNewPortInThisRunAndAfterARestart) {
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    std::string imei;
    ASSERT_TRUE(testing::Eventually([&] {
        imei = core_.PoolModems().at(1).seen.identity.imei;
        return !imei.empty();
    }));
    const std::uint16_t configured = modems_.ComNumber(2);
    modems_.Control("replug 2");
    ASSERT_NE(modems_.ComNumber(2), configured);
    ASSERT_TRUE(SendThroughModem2(core_, outcomes_, imei));
    EXPECT_EQ(core_.PoolModems().at(1).port, modems_.ComNumber(2));
    core_.Shutdown();

    modems_.Control("replug 2");  // while the program is closed
    AppCore restarted(home_.path());
    testing::Outcomes later;
    ASSERT_TRUE(restarted.Start(later.Events()));
    ASSERT_TRUE(SendThroughModem2(restarted, later, imei));
    EXPECT_EQ(restarted.PoolModems().at(1).port, modems_.ComNumber(2));
    restarted.Shutdown();
    EXPECT_EQ(SendsOf(2), 2u);
    EXPECT_EQ(SendsOf(1), 0u);
}

// Two ports of one modem named as two modems: one worker drives it, the other
// stands aside, and every record goes out once.
class OneModemTwoPorts : public PoolTest {
  protected:
    OneModemTwoPorts() : PoolTest(2, {false, true}) {
        AddToPool(2);
        AddToPool(3, "SerialPort", modems_.ComName(2, 1));
    }
};

TEST_F(OneModemTwoPorts, IsDrivenThroughOnePortOnly) {
    ASSERT_TRUE(core_.Start(outcomes_.Events()));
    ASSERT_EQ(core_.ModemCount(), 3u);
    const auto ids = QueueMany(6);
    ASSERT_TRUE(AllSent(ids, std::chrono::seconds(60)));
    const auto modems = core_.PoolModems();
    core_.Shutdown();
    EXPECT_EQ(modems_.Outside().size(), ids.size());
    EXPECT_EQ(modems[0].same_modem_as, 0u);
    ASSERT_NE(modems[1].same_modem_as == 0, modems[2].same_modem_as == 0)
        << "one of the modem's two ports stands aside";
    const std::size_t aside = modems[1].same_modem_as != 0 ? 1 : 2;
    EXPECT_EQ(modems[aside].same_modem_as, modems[3 - aside].port);
}

}  // namespace
}  // namespace velka::app
