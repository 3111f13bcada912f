// The worker with real modems' ways: the SIM's state and the modem's identity
// reach the front end through the worker's events, a PIN the user gives unlocks
// the SIM, a modem that stops answering is reopened and said after three silences,
// and direct deliveries reach inbox.db through the worker's passes.
#include <gtest/gtest.h>

#include "app/app_core.h"
#include "app/status_text.h"
#include "store/store_file.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"

namespace velka::app {
namespace {

using modem::ModemState;
using std::chrono::seconds;
using testing::Count;

class ModemStateTest : public testing::CoreOnModemsTest {
  protected:
    ModemStateTest() : CoreOnModemsTest(2) {}

    void Start(bool reception) {
        ASSERT_TRUE(
            testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), reception));
        ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    }
    bool Told(ModemState state, seconds limit = seconds(60)) {
        return outcomes_.WaitUntil([&] { return outcomes_.WasTold(state); }, limit);
    }
    std::vector<std::string> InboxTexts() {
        const auto inbox = store::Load(home_.File(kInboxFile));
        std::vector<std::string> texts;
        if (!inbox) return texts;
        for (const auto& record : *inbox) texts.emplace_back(record.text_text());
        return texts;
    }
};

TEST_F(ModemStateTest, APinLockedSimIsToldThenUnlockedWithThePinTheUserGives) {
    modems_.Control("fault 1 pin 4321");
    modems_.Control("inject 1 +79161234567 behind the PIN");
    Start(true);
    ASSERT_TRUE(Told(ModemState::PinNeeded));
    EXPECT_EQ(outcomes_.ReceivedCount(), 0u);
    core_.SetPin("4321");
    ASSERT_TRUE(Told(ModemState::Ready));
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 1; }));
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPIN=\"4321\""), 1u);
    EXPECT_NE(ModemStateText({ModemState::PinNeeded, 3}).find(" 3."), std::string::npos);
}

TEST_F(ModemStateTest, AWrongPinIsToldWithItsTriesAndNotSentAgain) {
    modems_.Control("fault 1 pin 4321");
    core_.SetPin("1111");
    Start(true);
    ASSERT_TRUE(Told(ModemState::PinRefused));
    std::vector<modem::ModemStatus> states;
    outcomes_.WaitUntil([&] {
        states = outcomes_.States();
        return true;
    });
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back().tries_left, 2);
    // Several more passes go by; the refused PIN stays unsent.
    ASSERT_TRUE(testing::Eventually([&] { return Count(modems_.Written(1), "AT+CPIN?") >= 4; }));
    EXPECT_EQ(Count(modems_.Written(1), "AT+CPIN=\""), 1u);
}

TEST_F(ModemStateTest, WhatTheModemIsReachesTheFrontEnd) {
    Start(true);
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return !outcomes_.Infos().empty(); }));
    std::vector<modem::ModemInfo> infos;
    outcomes_.WaitUntil([&] {
        infos = outcomes_.Infos();
        return true;
    });
    EXPECT_EQ(infos[0].manufacturer, "Velka");
    EXPECT_EQ(infos[0].model, "Virtual GSM Modem");
    EXPECT_EQ(infos[0].operator_name, "Velka Net");
    EXPECT_EQ(infos[0].signal, 20);
}

TEST_F(ModemStateTest, AModemThatStopsAnsweringIsToldAfterThreeSilencesAndRecovered) {
    Start(true);
    ASSERT_TRUE(Told(ModemState::Ready));
    modems_.Control("fault 1 silent on");
    ASSERT_TRUE(Told(ModemState::NotAnswering, seconds(120)));
    modems_.Control("fault 1 silent off");
    modems_.Control("inject 1 +79161234567 after the silence");
    ASSERT_TRUE(outcomes_.WaitUntil(
        [&] {
            return outcomes_.ReceivedCount() == 1 &&
                   outcomes_.States().back().state == ModemState::Ready;
        },
        seconds(120)));
    EXPECT_EQ(InboxTexts(), std::vector<std::string>{"after the silence"});
}

// The listing's own hang is bounded by 30 s of quiet (tested in the modem's
// tests); a hang in the memory selection before it shows the same recovery sooner.
TEST_F(ModemStateTest, AHungModemIsRecoveredWithoutARestart) {
    for (int i = 1; i <= 3; ++i) modems_.Control("inject 1 +79161234567 kept " + std::to_string(i));
    modems_.Control("fault 1 hang AT+CPMS=\"SM\"");
    Start(true);
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 3; }, seconds(120)));
    EXPECT_EQ(InboxTexts(), (std::vector<std::string>{"kept 1", "kept 2", "kept 3"}));
    EXPECT_TRUE(modems_.Store(1).empty());
}

TEST_F(ModemStateTest, DirectDeliveriesReachTheInboxThroughTheWorker) {
    modems_.Control("fault 1 direct ack");
    Start(true);
    ASSERT_TRUE(Told(ModemState::Ready));
    modems_.Control("inject 1 +79161234567 handed over");
    ASSERT_TRUE(outcomes_.WaitUntil([&] { return outcomes_.ReceivedCount() == 1; }));
    EXPECT_EQ(InboxTexts(), std::vector<std::string>{"handed over"});
    EXPECT_TRUE(testing::Eventually([&] { return modems_.modem(1).unacknowledged() == 0; }));
    EXPECT_TRUE(modems_.Store(1).empty());
}

}  // namespace
}  // namespace velka::app
