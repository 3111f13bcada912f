#include <gtest/gtest.h>

#include <new>

#include "serial/ser_except.h"

namespace velka {
namespace {

TEST(SerialErrors, FamilyCodeRaisesItsClassWithCodeAndMessage) {
    try {
        CheckException(ecCommNotOpen);
        FAIL() << "no exception";
    } catch (const ECommNotOpen& e) {
        EXPECT_EQ(e.ErrorCode(), -2007);
        EXPECT_STREQ(e.what(), "ie_NOpen - device not open");
    }
    EXPECT_THROW(CheckException(ecBadId), EOpenComm);
    EXPECT_THROW(CheckException(ecBufferIsEmpty), ESerialIO);
    EXPECT_THROW(CheckException(ecBadArgument), EGeneral);
    EXPECT_THROW(CheckException(ecOutputBufferTooSmall), EOutputBufferTooSmall);
    EXPECT_THROW(CheckException(ecAlreadyOpen), ESerialException);
}

TEST(SerialErrors, ZeroAndPositiveCodesPassUnchanged) {
    EXPECT_EQ(CheckException(0), 0);
    EXPECT_EQ(CheckException(17), 17);
}

TEST(SerialErrors, SystemErrorsBecomeInputOutputErrorsWithTheMagnitude) {
    try {
        CheckException(ecAccessDenied);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_THROW(CheckException(ecOutOfMemory), std::bad_alloc);
}

TEST(SerialErrors, UnknownCodesRaiseThePlainFamilyException) {
    for (const int code : {-1, -3002, -99999}) {
        try {
            CheckException(code);
            FAIL() << "no exception for " << code;
        } catch (const ESerialException& e) {
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_STREQ(e.what(), "Serial exception");
        }
    }
}

TEST(SerialErrors, MessagesComeFromTheTableByMagnitude) {
    EXPECT_EQ(LoadErrorStr(2001), "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(LoadErrorStr(-2001), LoadErrorStr(2001));
    EXPECT_EQ(ErrorMsg(-13868), "No memory");
    EXPECT_EQ(LoadErrorStr(0), "OK");
    EXPECT_EQ(MapCodeToStringID(-3006), 3006);
}

TEST(SerialErrors, CodesWithoutARowTakeTheSystemTextOnOneLine) {
    // 22 is EINVAL on POSIX; the table has no row of that magnitude.
    const std::string text = LoadErrorStr(-22);
    EXPECT_EQ(text, SystemErrorText(22));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("  "), std::string::npos);
    EXPECT_EQ(LoadErrorStr(-99999), "");
}

}  // namespace
}  // namespace velka
