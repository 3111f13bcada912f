#include "settings/port_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace velka::settings {
namespace {

using Ports = std::vector<std::string>;

constexpr char kC251[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_c251&Pid_1305";
constexpr char kFfff[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffff&Pid_1305";
constexpr char kOther[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1234&Pid_5678";

class PortDiscovery : public ::testing::Test {
  protected:
    // An installed instance of a device, as the system records it.
    void Install(const char* device, const std::string& instance, const std::string& port) {
        ASSERT_TRUE(registry_.WriteString(
            std::string(device) + "\\" + instance + "\\Device Parameters", "PortName", port));
    }
    // A port present now, as the serial device map lists it.
    void Plug(const std::string& device_path, const std::string& port) {
        ASSERT_TRUE(registry_.WriteString(kSerialDeviceMapKey, device_path, port));
    }

    velka::testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
};

TEST_F(PortDiscovery, NoModemEverInstalledOffersNothing) {
    Plug("\\Device\\Serial0", "COM1");
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{});
}

TEST_F(PortDiscovery, AnEmptyRegistryOffersNothing) {
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{});
}

TEST_F(PortDiscovery, AnUnpluggedModemIsNotOffered) {
    Install(kC251, "5&1a2b3c&0&1", "COM3");
    Plug("\\Device\\Serial0", "COM1");
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{});
}

TEST_F(PortDiscovery, ModemsOfBothIdentifiersComeInTheOrderOfTheDeviceMap) {
    Install(kC251, "inst1", "COM3");
    Install(kFfff, "inst2", "COM7");
    Install(kOther, "inst3", "COM5");  // another device: never offered
    Plug("\\Device\\ssudmdm0001", "COM7");
    Plug("\\Device\\Serial0", "COM1");
    Plug("\\Device\\ssudmdm0000", "COM3");
    Plug("\\Device\\Serial5", "COM5");
    // The order is the device map's as the registry enumerates it: creation order
    // here, name order under Wine.
    const auto device_map = registry_.Values(kSerialDeviceMapKey);
    ASSERT_TRUE(device_map.ok());
    Ports expected;
    for (const RegistryValueInfo& value : *device_map)
        if (value.text == "COM7" || value.text == "COM3") expected.push_back(value.text);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(DiscoverModemPorts(registry_), expected);
}

TEST_F(PortDiscovery, APortRecordedByTwoInstancesIsListedTwice) {
    Install(kC251, "old", "COM3");
    Install(kC251, "new", "COM3");
    Plug("\\Device\\ssudmdm0000", "COM3");
    EXPECT_EQ(DiscoverModemPorts(registry_), (Ports{"COM3", "COM3"}));
}

TEST_F(PortDiscovery, PortNamesCompareWithLetterCase) {
    Install(kFfff, "inst", "com3");
    Plug("\\Device\\ssudmdm0000", "COM3");
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{});
}

TEST_F(PortDiscovery, InstancesWithoutParametersOrPortNameMatchNothing) {
    ASSERT_TRUE(registry_.CreateKey(std::string(kC251) + "\\bare"));
    ASSERT_TRUE(registry_.CreateKey(std::string(kC251) + "\\noname\\Device Parameters"));
    Install(kC251, "good", "COM4");
    Plug("\\Device\\a", "COM4");
    ASSERT_TRUE(registry_.WriteString(kSerialDeviceMapKey, "\\Device\\empty", ""));
    ASSERT_TRUE(registry_.WriteDWord(kSerialDeviceMapKey, "\\Device\\dword", 4));
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{"COM4"});
}

// Other makers' modems: the serial ports of every other USB device present now,
// each once, never the modem's own nor a port without a USB device (a built-in
// serial port, the virtual modem's pseudo-terminal).
TEST_F(PortDiscovery, OtherUsbPortsArePresentOnesOfOtherDevicesEachOnce) {
    constexpr char kHuawei[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_12d1&Pid_1506";
    Install(kC251, "modem", "COM3");
    Install(kHuawei, "pcui", "COM8");
    Install(kHuawei, "diag", "COM9");
    Install(kHuawei, "again", "COM8");  // the same port recorded twice is still one port
    Install(kOther, "adapter", "COM5");
    Install(kOther, "unplugged", "COM6");
    Plug("\\Device\\Serial0", "COM1");  // built in: no USB device records it
    Plug("\\Device\\ssudmdm0000", "COM3");
    Plug("\\Device\\hw0", "COM9");
    Plug("\\Device\\hw1", "COM8");
    Plug("\\Device\\ftdi", "COM5");
    const auto device_map = registry_.Values(kSerialDeviceMapKey);
    ASSERT_TRUE(device_map.ok());
    Ports expected;
    for (const RegistryValueInfo& value : *device_map)
        if (value.text == "COM9" || value.text == "COM8" || value.text == "COM5")
            expected.push_back(value.text);
    EXPECT_EQ(DiscoverOtherUsbSerialPorts(registry_), expected);
    EXPECT_EQ(DiscoverModemPorts(registry_), Ports{"COM3"}) << "the modem's own stay apart";
}

TEST_F(PortDiscovery, TheModemsOwnIdentifiersInAnotherLetterCaseAreNoOtherDevice) {
    Install("\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_C251&PID_1305", "x", "COM4");
    Plug("\\Device\\a", "COM4");
    EXPECT_EQ(DiscoverOtherUsbSerialPorts(registry_), Ports{});
}

}  // namespace
}  // namespace velka::settings
