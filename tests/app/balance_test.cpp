// The balance watched: the amount read from operators' answers, the settings of the
// check in Config.ini and the last reading in balance.json.
#include "app/balance.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace velka::app {
namespace {

TEST(BalanceAmounts, TheFormsOperatorsWriteAreRead) {
    EXPECT_EQ(ReadBalance(u"Баланс: 57,10 р."), 57.10);
    EXPECT_EQ(ReadBalance(u"Balance 99.00 RUB"), 99.00);
    EXPECT_EQ(ReadBalance(u"Ваш баланс -5 руб"), -5.0);
    EXPECT_EQ(ReadBalance(u"Баланс \u221215,50\u20BD"), -15.5);
    EXPECT_EQ(ReadBalance(u"Osnovnoi schet 12.5r. Bonus 3"), 12.5);
    EXPECT_EQ(ReadBalance(u"Ваш баланс 7 руб. Пакеты: 100 SMS"), 7.0);
}

TEST(BalanceAmounts, ThousandsAreGroupedByBlanksOrByCommasBeforeAPoint) {
    EXPECT_EQ(ReadBalance(u"Баланс: 1 234,56 руб."), 1234.56);
    EXPECT_EQ(ReadBalance(u"Баланс: 1\u00A0234\u00A0567 р."), 1234567.0);
    EXPECT_EQ(ReadBalance(u"Balance: 1,234.56 RUB"), 1234.56);
    EXPECT_EQ(ReadBalance(u"Balance: -12,345.00 RUB"), -12345.0);
}

TEST(BalanceAmounts, DatesTimesAndNumbersBeforeTheAmountAreNoAmount) {
    EXPECT_EQ(ReadBalance(u"На 09.12.2026 21:30 баланс 57,10 р."), 57.10);
    // No currency: the first number after a word for the balance.
    EXPECT_EQ(ReadBalance(u"Tarif 3. Balance 42.00"), 42.0);
    // A currency word must end where the abbreviation ends.
    EXPECT_EQ(ReadBalance(u"Акция 5 рубрик, баланс 8 р."), 8.0);
    EXPECT_EQ(ReadBalance(u"Код 12"), 12.0);
}

TEST(BalanceAmounts, AnAnswerWithoutAnAmountGivesNone) {
    EXPECT_FALSE(ReadBalance(u"Сервис временно недоступен"));
    EXPECT_FALSE(ReadBalance(u"Действует до 31.12.2026"));
    EXPECT_FALSE(ReadBalance(u""));
}

TEST(BalanceAmounts, AmountsAreWrittenTheRussianWay) {
    EXPECT_EQ(AmountText(57.1), "57,10");
    EXPECT_EQ(AmountText(-5), "-5,00");
    EXPECT_EQ(AmountText(-0.001), "0,00");
}

TEST(BalanceSettingsFile, SettingsAreKeptInTheirOwnSectionAndMissingOnesAreOff) {
    velka::testing::TempDir dir;
    const std::string config = dir.File("Config.ini");
    EXPECT_EQ(ReadBalanceSettings(config), BalanceSettings{});
    ASSERT_TRUE(profile::WriteString(config, "DEVICEMAP", "SerialPort", "COM3").ok());
    const BalanceSettings settings{"*100#", BalanceInterval::Daily, 10.5};
    ASSERT_TRUE(WriteBalanceSettings(config, settings).ok());
    EXPECT_EQ(ReadBalanceSettings(config), settings);
    EXPECT_EQ(profile::ReadString(config, "Balance", "Threshold", ""), "10,50");
    EXPECT_EQ(profile::ReadString(config, "DEVICEMAP", "SerialPort", ""), "COM3");
    // A threshold or interval typed by hand that is no such thing counts as none.
    ASSERT_TRUE(profile::WriteString(config, "Balance", "Threshold", "много").ok());
    ASSERT_TRUE(profile::WriteString(config, "Balance", "Interval", "weekly").ok());
    EXPECT_EQ(ReadBalanceSettings(config), (BalanceSettings{"*100#", BalanceInterval::Off, {}}));
}

TEST(BalanceSettingsFile, OnlyACodeWithAnIntervalIsChecked) {
    EXPECT_FALSE(BalanceCheckPeriod({"", BalanceInterval::Hourly, {}}));
    EXPECT_FALSE(BalanceCheckPeriod({"*100#", BalanceInterval::Off, {}}));
    EXPECT_EQ(BalanceCheckPeriod({"*100#", BalanceInterval::Hourly, {}}), std::chrono::hours(1));
    EXPECT_EQ(BalanceCheckPeriod({"*100#", BalanceInterval::Daily, {}}), std::chrono::hours(24));
}

TEST(BalanceReadings, LowMeansBelowTheThresholdOfAKnownAmount) {
    const BalanceSettings settings{"*100#", BalanceInterval::Daily, 10.0};
    EXPECT_TRUE(BalanceLow({"*100#", "", -5.0, u""}, settings));
    EXPECT_FALSE(BalanceLow({"*100#", "", 10.0, u""}, settings));
    EXPECT_FALSE(BalanceLow({"*100#", "", std::nullopt, u""}, settings));
    EXPECT_FALSE(BalanceLow({"*100#", "", -5.0, u""}, {"*100#", BalanceInterval::Daily, {}}));
}

TEST(BalanceReadings, AReadingComesBackAsSavedAndABadFileIsSaid) {
    velka::testing::TempDir dir;
    const std::string path = dir.File(kBalanceFile);
    auto loaded = LoadBalanceReading(path);
    ASSERT_TRUE(loaded.ok());
    EXPECT_FALSE(*loaded);
    const BalanceReading reading{"*100#", codepage::FromUtf8("09.12.2026 21:30:00"), 57.1,
                                 u"Баланс: 57,10 р.\nБонусы: 3"};
    ASSERT_TRUE(SaveBalanceReading(path, reading).ok());
    loaded = LoadBalanceReading(path);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(*loaded, reading);
    const BalanceReading without{"*100#", "", std::nullopt, u"Сервис недоступен"};
    ASSERT_TRUE(SaveBalanceReading(path, without).ok());
    EXPECT_EQ(*LoadBalanceReading(path), without);

    ASSERT_TRUE(files::SaveDurably(path, "{\"code\": 5").ok());
    EXPECT_FALSE(LoadBalanceReading(path).ok());
    ASSERT_TRUE(files::SaveDurably(path, "[1, 2]").ok());
    EXPECT_FALSE(LoadBalanceReading(path).ok());
}

}  // namespace
}  // namespace velka::app
