#include "platform/datetime.h"

#include <gtest/gtest.h>

namespace velka {
namespace {

TEST(DateTimeText, RussianDefaultsWithHourWithoutLeadingZero) {
    EXPECT_EQ(FormatDateTime({2026, 12, 6, 20, 52, 41}), "06.12.2026 20:52:41");
    EXPECT_EQ(FormatDateTime({2026, 1, 2, 3, 4, 5}), "02.01.2026 3:04:05");
}

TEST(DateTimeText, TheYearAlwaysHasFourDigits) {
    EXPECT_EQ(FormatDateTime({1, 1, 1, 0, 0, 0}), "01.01.0001");
    EXPECT_EQ(FormatDateTime({999, 11, 30, 23, 5, 9}), "30.11.0999 23:05:09");
    EXPECT_EQ(FormatDateTime({9999, 12, 31, 10, 0, 0}), "31.12.9999 10:00:00");
}

TEST(DateTimeText, ExactMidnightShowsTheDateAlone) {
    EXPECT_EQ(FormatDateTime({2026, 3, 1, 0, 0, 0}), "01.03.2026");
    EXPECT_EQ(FormatDateTime({2026, 3, 1, 0, 0, 1}), "01.03.2026 0:00:01");
}

TEST(DateTime, DatesAndTimesThatDoNotExistAreRefused) {
    EXPECT_TRUE(MakeDateTime(2024, 2, 29, 23, 59, 59).has_value());
    EXPECT_FALSE(MakeDateTime(2026, 2, 29, 0, 0, 0).has_value());
    EXPECT_FALSE(MakeDateTime(2100, 2, 29, 0, 0, 0).has_value());
    EXPECT_TRUE(MakeDateTime(2000, 2, 29, 0, 0, 0).has_value());
    EXPECT_FALSE(MakeDateTime(2026, 0, 1, 0, 0, 0).has_value());
    EXPECT_FALSE(MakeDateTime(2026, 4, 31, 0, 0, 0).has_value());
    EXPECT_FALSE(MakeDateTime(2026, 1, 1, 25, 0, 0).has_value());
    EXPECT_FALSE(MakeDateTime(2026, 1, 1, 0, 60, 0).has_value());
}

TEST(DateTime, NowIsAValidDate) {
    const DateTime now = NowLocal();
    EXPECT_TRUE(MakeDateTime(now.year, now.month, now.day, now.hour, now.minute, now.second));
}

// Local time from a moment and back, in whatever zone the machine is set to: the
// counters of each SIM reset at these boundaries. The dates are away from clock changes.
TEST(DateTime, LocalTimeAndMomentsConvertBothWays) {
    for (const DateTime when : {DateTime{2026, 12, 31, 23, 59, 59}, DateTime{2027, 1, 1, 0, 0, 0},
                                DateTime{2028, 2, 29, 12, 30, 5}, DateTime{2026, 6, 15, 3, 4, 5}}) {
        const std::int64_t moment = MomentOfLocal(when);
        EXPECT_EQ(LocalTimeAt(moment), when) << FormatDateTime(when);
    }
    const std::int64_t midnight = MomentOfLocal(DateTime{2027, 1, 1, 0, 0, 0});
    EXPECT_EQ(MomentOfLocal(DateTime{2026, 12, 31, 23, 59, 59}), midnight - 1);
    EXPECT_EQ(MomentOfLocal(DateTime{2027, 1, 2, 0, 0, 0}), midnight + 86400);
}

TEST(DateTimeKey, SortsInTimeOrderWhateverTheHourWidth) {
    EXPECT_EQ(DateTimeKey("08.12.2026 9:05:00"), "120261208090500");
    EXPECT_LT(DateTimeKey("08.12.2026 9:05:00"), DateTimeKey("08.12.2026 10:00:00"));
    EXPECT_LT(DateTimeKey("31.12.2025 23:59:59"), DateTimeKey("01.01.2026"));
    EXPECT_EQ(DateTimeKey("01.01.2026"), "120260101000000") << "midnight has no time part";
    EXPECT_LT(DateTimeKey(""), DateTimeKey("01.01.1990 0:00:01"));
    EXPECT_LT(DateTimeKey("garbage"), DateTimeKey("01.01.1990 0:00:01"));
}

}  // namespace
}  // namespace velka
