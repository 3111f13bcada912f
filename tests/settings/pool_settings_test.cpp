// The modems of a pool: the first from [DEVICEMAP], the others from [Modem N].
#include "settings/pool_settings.h"

#include <gtest/gtest.h>

#include "platform/files.h"
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

}  // namespace
}  // namespace velka::settings
