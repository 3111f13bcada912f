#include "settings/startup_settings.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace velka::settings {
namespace {

class StartupSettingsTest : public ::testing::Test {
  protected:
    void Set(std::string_view key, std::string_view value) {
        ASSERT_TRUE(profile::WriteString(ini_, kSection, key, value));
    }
    StartupSettings Read() {
        StartupSettings settings;
        last_ = ReadStartupSettings(ini_, settings);
        return settings;
    }
    velka::testing::TempDir dir_;
    std::string ini_ = dir_.File("Config.ini");
    Status last_;
};

TEST_F(StartupSettingsTest, AMissingFileMeansReceptionOnAndNoPort) {
    const auto settings = Read();
    EXPECT_TRUE(last_.ok());
    EXPECT_TRUE(settings.reception);
    EXPECT_EQ(settings.port, 0);
}

TEST_F(StartupSettingsTest, ThePortIsTheNumberAfterTheFirstThreeCharacters) {
    Set(kSerialPortKey, "COM3");
    EXPECT_EQ(Read().port, 3);
    Set(kSerialPortKey, "COM12");
    EXPECT_EQ(Read().port, 12);
    Set(kSerialPortKey, "XYZ7");
    EXPECT_EQ(Read().port, 7) << "whatever the three characters are";
}

TEST_F(StartupSettingsTest, ThreeCharactersOrFewerMeanNoPortAndNoMessage) {
    for (const char* text : {"COM", "CO", ""}) {
        Set(kSerialPortKey, text);
        EXPECT_EQ(Read().port, 0) << text;
        EXPECT_TRUE(last_.ok());
    }
}

TEST_F(StartupSettingsTest, ANonNumericPortGivesTheConversionMessage) {
    Set(kMailCheckKey, "0");
    Set(kSerialPortKey, "COM3a");
    const auto settings = Read();
    ASSERT_FALSE(last_.ok());
    EXPECT_EQ(last_.error().message, "'3a' is not a valid integer value");
    EXPECT_EQ(settings.port, 0);
    EXPECT_FALSE(settings.reception) << "read before the port";
}

TEST_F(StartupSettingsTest, ReceptionIsOffOnlyForZero) {
    const std::pair<const char*, bool> cases[] = {{"0", false},   {"1", true},  {"2", true},
                                                  {"yes", true},  {"", true},   {"0x0", false},
                                                  {"0x10", true}, {"00", false}};
    for (const auto& [text, on] : cases) {
        Set(kMailCheckKey, text);
        EXPECT_EQ(Read().reception, on) << text;
    }
}

TEST(StrToIntTest, ConvertsStrictlyOrSaysWhy) {
    EXPECT_EQ(*StrToInt("42"), 42);
    EXPECT_EQ(*StrToInt(" -7 "), -7);
    EXPECT_EQ(*StrToInt("$1F"), 31);
    EXPECT_EQ(*StrToInt("0x10"), 16);
    EXPECT_EQ(*StrToInt("2147483647"), 2147483647);
    for (const char* bad : {"", "x", "1 2", "2147483648", "--1", "0x", "12a"}) {
        const auto result = StrToInt(bad);
        ASSERT_FALSE(result.ok()) << bad;
        EXPECT_EQ(result.error().message,
                  std::string("'").append(bad).append("' is not a valid integer value"));
    }
}

}  // namespace
}  // namespace velka::settings
