// Opening ports by COM name through the device manager's list, over
// pseudo-terminals, as the modem dialogue does; availability of ports.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/device_manager.h"
#include "serial/ser_except.h"
#include "serial/ser_port.h"
#include "serial/ser_selcom.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace velka {
namespace {

using testing::PtyPair;
using Clock = std::chrono::steady_clock;

std::uint16_t Register(const PtyPair& pty) {
    const auto name = DeviceManager(Registry::Machine()).RegisterPort(pty.SlavePath());
    return name ? SelectedComNum(*name) : 0;
}

void UseModemSettings(TComPort& port, std::uint16_t n) {
    port.SetBaud(115200);
    port.SetAutoOpen(false);
    port.SetHWFlowOptions(hwfUseDTR | hwfUseRTS);
    port.SetBufferFull(3686);
    port.SetBufferResume(409);
    port.SetComNumber(n);
}

TEST(ComName, APortOpensByItsComNameAndTalks) {
    PtyPair modem;
    const std::uint16_t n = Register(modem);
    ASSERT_NE(n, 0);
    TComPort port;
    UseModemSettings(port, n);
    port.SetOpen(true);
    port.PutString("AT\r");
    EXPECT_EQ(modem.Read(3), "AT\r");
    modem.Write("\r\nok\r\n");
    EXPECT_TRUE(port.WaitForString("OK", 100, false, true));
    port.SetOpen(false);
}

TEST(ComName, ANameWithoutAnEntryIsABadId) {
    TComPort port;
    UseModemSettings(port, 49);
    EXPECT_THROW(port.SetOpen(true), EBadId);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(IsPortAvailable(49));
    EXPECT_FALSE(IsPortAvailable(0));
}

TEST(ComName, PortsInUseAreAvailableButRefuseASecondOpen) {
    PtyPair modem;
    const std::uint16_t n = Register(modem);
    EXPECT_TRUE(IsPortAvailable(n));
    TComPort first, second;
    UseModemSettings(first, n);
    UseModemSettings(second, n);
    first.SetOpen(true);
    EXPECT_TRUE(IsPortAvailable(n));
    EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
    const auto list = AvailablePortList();
    EXPECT_NE(std::find(list.begin(), list.end(), "COM" + std::to_string(n)), list.end());
}

// The port is registered under a link the test owns, as the virtual modem does:
// a bare pseudo-terminal's number is reused at once by whichever test program
// runs beside this one, which would bring the "vanished" device back.
TEST(ComName, AfterTheDeviceVanishedACloseAndOpenWorkOnceItIsBack) {
    testing::TempDir dir;
    const std::string link = dir.File("modem");
    auto modem = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(modem->SlavePath(), link);
    const auto name = DeviceManager(Registry::Machine()).RegisterPort(link);
    ASSERT_TRUE(name);
    const std::uint16_t n = SelectedComNum(*name);
    TComPort port;
    UseModemSettings(port, n);
    port.SetOpen(true);
    modem->CloseMaster();  // unplugged
    EXPECT_FALSE(port.WaitForString("OK", 1000, false, true));
    EXPECT_THROW(port.PutString("AT\r"), ECommNotOpen);
    port.SetOpen(false);

    // Not back yet: the open fails as for a port that does not exist.
    modem.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(DeviceManager(Registry::Machine()).Refresh());
    EXPECT_THROW(port.SetOpen(true), EBadId);

    // Back, under the same name.
    PtyPair again;
    std::filesystem::create_symlink(again.SlavePath(), link);
    ASSERT_TRUE(Registry::Machine().WriteString(kSerialCommKey, link, *name));
    port.SetOpen(true);
    again.Write("OK");
    EXPECT_TRUE(port.WaitForString("OK", 100, false, true));
}

TEST(SelectionList, ListsAvailablePortsInOrderAndReadsTheChosenNumber) {
    const auto list =
        AvailablePortList([](std::uint16_t n) { return n == 1 || n == 3 || n == 12 || n == 51; });
    EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(SelectedComNum("COM12"), 12);
    EXPECT_EQ(SelectedComNum(""), 0);
    EXPECT_EQ(SelectedComNum("COMx"), 0);
}

}  // namespace
}  // namespace velka
