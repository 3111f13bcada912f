// The modems of a pool: the first from [DEVICEMAP], the others from [Modem N].
#include "settings/pool_settings.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace velka::settings {
namespace {

Result<std::vector<PoolModem>> PoolOf(const std::string& text, std::int32_t first_port) {
    velka::testing::TempDir dir;
    const std::string ini = dir.File("Config.ini");
    if (!files::SaveDurably(ini, text)) return Error{"not written"};
    return ReadPoolModems(ini, first_port);
}

TEST(PoolSettings, TheFirstModemComesFromDevicemapAndTheOthersInTheirNumbersOrder) {
    const auto pool = PoolOf(
        "[DEVICEMAP]\r\nSerialPort=COM3\r\n"
        "[Modem 1]\r\nReceive=0\r\n"
        "[Modem 7]\r\nSerialPort=COM9\r\nSend=0\r\n"
        "[Modem 2]\r\nSerialPort=COM5\r\n"
        "[Modem 4]\r\nSerialPort=COM3\r\n"  // the first modem's port again: one port, one modem
        "[Modem 5]\r\nSend=1\r\n"           // no port: not a modem yet
        "[Modem 33]\r\nSerialPort=COM40\r\n",
        3);
    ASSERT_TRUE(pool) << pool.error().message;
    const std::vector<PoolModem> expected{{3, true, false}, {5, true, true}, {9, false, true}};
    EXPECT_EQ(*pool, expected);
}

TEST(PoolSettings, AFileWithoutPoolSectionsIsOneModemAndNoFirstPortIsNoPool) {
    const auto one = PoolOf("[DEVICEMAP]\r\nSerialPort=COM1\r\n", 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(*one, (std::vector<PoolModem>{{1, true, true}}));
    const auto none = PoolOf("[Modem 2]\r\nSerialPort=COM5\r\n", 0);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(PoolSettings, APortThatDoesNotConvertIsRefusedWithItsSection) {
    const auto pool = PoolOf("[Modem 3]\r\nSerialPort=COMx5\r\n", 1);
    ASSERT_FALSE(pool);
    EXPECT_EQ(pool.error().message, "[Modem 3] SerialPort: 'x5' is not a valid integer value");
}

// Writing: the first modem's port is [DEVICEMAP]'s, which the test writes as the
// settings dialog does; the pool writes the rest.
class PoolWriting : public ::testing::Test {
  protected:
    void Put(const std::string& text) { ASSERT_TRUE(files::SaveDurably(ini_, text)); }
    std::string Contents() const { return files::ReadAll(ini_).value(); }
    std::vector<PoolModem> Written(const std::vector<PoolModem>& pool) {
        std::string first_port = "COM";
        first_port.append(std::to_string(pool.front().port));
        EXPECT_TRUE(profile::WriteString(ini_, "DEVICEMAP", "SerialPort", first_port));
        const Status written = WritePoolModems(ini_, pool);
        EXPECT_TRUE(written) << written.error().message;
        const auto read = ReadPoolModems(ini_, pool.front().port);
        EXPECT_TRUE(read) << read.error().message;
        return read ? *read : std::vector<PoolModem>{};
    }

    velka::testing::TempDir dir_;
    std::string ini_ = dir_.File("Config.ini");
};

TEST_F(PoolWriting, APoolReadsBackWithItsSwitchesAndARemovedModemMovesTheLaterOnesUp) {
    const std::vector<PoolModem> four{
        {3, true, false}, {5, false, true}, {7, true, true}, {9, false, false}};
    EXPECT_EQ(Written(four), four);
    const std::vector<PoolModem> without_com5{{3, true, true}, {7, true, true}, {9, false, false}};
    EXPECT_EQ(Written(without_com5), without_com5);
    EXPECT_EQ(profile::ReadString(ini_, "Modem 4", "SerialPort", "<removed>"), "<removed>");
    EXPECT_EQ(Written({{3, true, true}}), (std::vector<PoolModem>{{3, true, true}}));
    EXPECT_EQ(profile::ReadString(ini_, "Modem 2", "SerialPort", "<removed>"), "<removed>");
}

TEST_F(PoolWriting, OneModemWithItsSwitchesOnAddsNoSectionAndOtherSectionsStay) {
    Put("[DEVICEMAP]\r\nSerialPort=COM3\r\n\r\n[Balance]\r\nCode=*100#\r\n");
    ASSERT_TRUE(WritePoolModems(ini_, {{3, true, true}}));
    EXPECT_EQ(Contents(), "[DEVICEMAP]\r\nSerialPort=COM3\r\n\r\n[Balance]\r\nCode=*100#\r\n");
    // Switched off and on again, the first modem keeps its section, saying so.
    ASSERT_TRUE(WritePoolModems(ini_, {{3, false, true}}));
    ASSERT_TRUE(WritePoolModems(ini_, {{3, true, true}}));
    EXPECT_EQ(profile::ReadString(ini_, "Modem 1", "Send", ""), "1");
    EXPECT_EQ(profile::ReadString(ini_, "Balance", "Code", ""), "*100#");
}

TEST_F(PoolWriting, AnUnchangedPoolLeavesTheFileByteForByte) {
    Put("[DEVICEMAP]\nSerialPort=COM3\n[Modem 2]\n; the modem by the window\n"
        "SerialPort = COM5 \nReceive=0\n");
    ASSERT_TRUE(WritePoolModems(ini_, {{3, true, true}, {5, true, false}}));
    EXPECT_EQ(Contents(),
              "[DEVICEMAP]\nSerialPort=COM3\n[Modem 2]\n; the modem by the window\n"
              "SerialPort = COM5 \nReceive=0\n");
}

TEST_F(PoolWriting, AFileThatCannotBeWrittenIsReported) {
    const std::string unwritable = dir_.File("missing-dir/Config.ini");
    const Status status = WritePoolModems(unwritable, {{3, true, true}, {5, true, true}});
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().message.rfind("Unable to write to " + unwritable, 0), 0u)
        << status.error().message;
    EXPECT_FALSE(files::Exists(unwritable));
}

}  // namespace
}  // namespace velka::settings
