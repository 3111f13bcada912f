// Each SIM's name and limits in a Config.ini section named by its ICCID.
#include "settings/sim_settings.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace velka::settings {
namespace {

constexpr char kSim[] = "89701990000000000017";

TEST(SimSettings, WrittenSettingsReadBackAndLeaveTheRestOfTheFileAlone) {
    velka::testing::TempDir dir;
    const std::string ini = dir.File("Config.ini");
    ASSERT_TRUE(files::SaveDurably(ini, "[DEVICEMAP]\r\nSerialPort=COM3\r\n; kept\r\n"));
    auto none = ReadSimSettings(ini, kSim);
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, SimSettings{});

    const SimSettings chosen{"\xD0\xE0\xE1\xEE\xF7\xE0\xFF",  // "Рабочая" in Windows-1251
                             {.per_hour = 60,
                              .per_day = 500,
                              .recipients_per_day = 100,
                              .recipients_per_month = 1000,
                              .pause = std::chrono::seconds(5)}};
    ASSERT_TRUE(WriteSimSettings(ini, kSim, chosen));
    auto back = ReadSimSettings(ini, kSim);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, chosen);
    EXPECT_EQ(profile::ReadString(ini, "sim 89701990000000000017", "MessagesPerDay", ""), "500");
    EXPECT_EQ(profile::ReadString(ini, "DEVICEMAP", "SerialPort", ""), "COM3");
    EXPECT_EQ(ReadSimSettings(ini, "89701990000000000025")->limits, SimLimits{});
}

TEST(SimSettings, ALimitThatIsNoWholeNumberIsRefusedNotDropped) {
    velka::testing::TempDir dir;
    const std::string ini = dir.File("Config.ini");
    ASSERT_TRUE(files::SaveDurably(ini, "[SIM 89701990000000000017]\r\nMessagesPerHour=ten\r\n"));
    auto words = ReadSimSettings(ini, kSim);
    ASSERT_FALSE(words);
    EXPECT_EQ(words.error().message, "MessagesPerHour: 'ten' is not a valid integer value");

    ASSERT_TRUE(files::SaveDurably(ini, "[SIM 89701990000000000017]\r\nPauseSeconds=-5\r\n"));
    auto negative = ReadSimSettings(ini, kSim);
    ASSERT_FALSE(negative);
    EXPECT_EQ(negative.error().message, "PauseSeconds: '-5' is below 0");

    ASSERT_TRUE(files::SaveDurably(ini, "[SIM 89701990000000000017]\r\nRecipientsPerDay=\r\n"));
    EXPECT_EQ(ReadSimSettings(ini, kSim)->limits, SimLimits{});  // empty: no limit
}

}  // namespace
}  // namespace velka::settings
