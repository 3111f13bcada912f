#include "settings/config_apply.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "settings/startup_settings.h"
#include "tests/support/temp_dir.h"

namespace velka::settings {
namespace {

class ConfigApply : public ::testing::Test {
  protected:
    std::string Stored(std::string_view key) {
        return profile::ReadString(ini_, kSection, key, "<missing>");
    }
    Status Apply(const DialogSettings& chosen, const std::string& ini) {
        return ApplySettings(
            ini, chosen,
            {[this](bool on) { reception_ = on; }, [this](bool on) { delivery_reports_ = on; },
             [this](bool on) { full_ucs2_segments_ = on; }});
    }

    velka::testing::TempDir dir_;
    std::string ini_ = dir_.File("Config.ini");
    std::optional<bool> reception_;
    std::optional<bool> delivery_reports_;
    std::optional<bool> full_ucs2_segments_;
};

TEST(DialogStart, ShowsThePortInUseAndTheFlags) {
    EXPECT_EQ(InitialDialogSettings(0, true, false, false), (DialogSettings{"", true, false}));
    EXPECT_EQ(InitialDialogSettings(12, false, true, true),
              (DialogSettings{"COM12", false, true, true}));
}

TEST_F(ConfigApply, TheFirstApplyCreatesTheFileWithBothKeys) {
    ASSERT_TRUE(Apply({"COM3", false}, ini_));
    EXPECT_EQ(Stored("SerialPort"), "COM3");
    EXPECT_EQ(Stored("PerformMailCheck"), "0");
    EXPECT_EQ(reception_, false);
    StartupSettings read;
    ASSERT_TRUE(ReadStartupSettings(ini_, read));
    EXPECT_EQ(read.port, 3);
    EXPECT_FALSE(read.reception);
}

TEST_F(ConfigApply, StoresThePortTextUnchangedEmptyIncluded) {
    ASSERT_TRUE(Apply({"COM3", true}, ini_));
    ASSERT_TRUE(Apply({"", true}, ini_));
    EXPECT_EQ(Stored("SerialPort"), "");
    EXPECT_EQ(Stored("PerformMailCheck"), "1");
    ASSERT_TRUE(Apply({"my modem", true}, ini_));
    EXPECT_EQ(Stored("SerialPort"), "my modem");
}

TEST_F(ConfigApply, AFileThatCannotBeWrittenKeepsReceptionAsItWas) {
    const std::string unwritable = dir_.File("missing-dir/Config.ini");
    const Status status = Apply({"COM3", false}, unwritable);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().message.rfind("Unable to write to " + unwritable, 0), 0u)
        << status.error().message;
    EXPECT_FALSE(reception_.has_value());
    EXPECT_FALSE(delivery_reports_.has_value());
    EXPECT_FALSE(files::Exists(unwritable));
}

TEST_F(ConfigApply, DeliveryReportsAreOffUntilTheDialogSwitchesThemOn) {
    StartupSettings read;
    ASSERT_TRUE(ReadStartupSettings(ini_, read));
    EXPECT_FALSE(read.delivery_reports) << "no file: off";
    ASSERT_TRUE(Apply({"COM3", true}, ini_));
    EXPECT_EQ(Stored("DeliveryReports"), "0");
    EXPECT_EQ(delivery_reports_, false);
    ASSERT_TRUE(Apply({"COM3", true, true}, ini_));
    EXPECT_EQ(Stored("DeliveryReports"), "1");
    EXPECT_EQ(delivery_reports_, true);
    ASSERT_TRUE(ReadStartupSettings(ini_, read));
    EXPECT_TRUE(read.delivery_reports);
    EXPECT_TRUE(read.reception);
}

TEST_F(ConfigApply, FullUcs2PartsAreOffUntilTheDialogSwitchesThemOn) {
    StartupSettings read;
    ASSERT_TRUE(ReadStartupSettings(ini_, read));
    EXPECT_FALSE(read.full_ucs2_segments) << "no file: the designed parts";
    ASSERT_TRUE(Apply({"COM3", true, false, true}, ini_));
    EXPECT_EQ(Stored("FullUcs2Parts"), "1");
    EXPECT_EQ(full_ucs2_segments_, true);
    ASSERT_TRUE(ReadStartupSettings(ini_, read));
    EXPECT_TRUE(read.full_ucs2_segments);
    EXPECT_FALSE(read.delivery_reports);
    ASSERT_TRUE(Apply({"COM3", true}, ini_));
    EXPECT_EQ(Stored("FullUcs2Parts"), "0");
}

// The sentence ChosenPool refuses `rows` with, in UTF-8; empty when it keeps them.
std::string Refusal(const std::vector<PoolRow>& rows) {
    const auto pool = ChosenPool(rows);
    return pool ? std::string() : codepage::ToUtf8(pool.error().message);
}

TEST(DialogPool, TheRowsMakeThePoolInTheirOrder) {
    const auto pool = ChosenPool({{"COM3", true, false}, {"COM12", false, true}, {"COM5"}});
    ASSERT_TRUE(pool) << pool.error().message;
    EXPECT_EQ(*pool,
              (std::vector<PoolModem>{{3, true, false}, {12, false, true}, {5, true, true}}));
    // The port field alone is written as typed, as before there were pools.
    for (const char* field : {"", "COM", "COM1x"}) {
        const auto alone = ChosenPool({{field, false, true}});
        ASSERT_TRUE(alone) << field;
        EXPECT_EQ(*alone, (std::vector<PoolModem>{{0, false, true}})) << field;
    }
}

TEST(DialogPool, APortNamedTwiceIsRefusedNamingBothModems) {
    EXPECT_EQ(Refusal({{"COM3"}, {"COM5"}, {"COM7"}, {"COM5"}}),
              "Порт COM5 указан у модемов 2 и 4: у каждого модема должен быть свой порт.");
    EXPECT_EQ(Refusal({{"COM3"}, {"com3"}}),
              "Порт COM3 указан у модемов 1 и 2: у каждого модема должен быть свой порт.");
}

TEST(DialogPool, ALaterModemNeedsItsOwnPortAndTheFirstOnes) {
    EXPECT_EQ(Refusal({{"COM3"}, {""}}), "Не указан порт модема 2.");
    for (const char* port : {"COM5x", "COM0", "COM-4", "COM70000", "USB"}) {
        std::string expected = "Порт модема 3 «";
        expected.append(port).append("» не подходит: нужны COM и номер порта, например COM5.");
        EXPECT_EQ(Refusal({{"COM3"}, {"COM4"}, {port}}), expected);
    }
    EXPECT_EQ(Refusal({{""}, {"COM4"}}),
              "Модемы со второго запускаются только вместе с первым: выберите порт первого "
              "модема.");
}

}  // namespace
}  // namespace velka::settings
