// The device manager over a sysfs tree of the test's own, and port names.
#include "platform/device_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace velka {
namespace {

namespace fs = std::filesystem;

class DeviceManagerTest : public ::testing::Test {
  protected:
    DeviceManagerTest()
        : registry(dir.File("registry.db")),
          sys(dir.File("sys")),
          dev(dir.File("dev")),
          manager(registry, sys, dev) {
        fs::create_directories(dev);
        const fs::path modem = fs::path(sys) / "devices/pci0/usb1/1-1";
        Write(modem / "idVendor", "c251");
        Write(modem / "idProduct", "1305");
        AddUsbTty("ttyUSB0", modem / "1-1:1.0", "00");
        AddUsbTty("ttyUSB2", modem / "1-1:1.2", "02");
        // A built-in UART: a serial port without a USB parent.
        fs::create_directories(fs::path(sys) / "devices/platform/serial8250");
        AddTtyLink("ttyS0", fs::path(sys) / "devices/platform/serial8250");
    }
    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    void AddUsbTty(const std::string& name, const fs::path& interface, const std::string& number) {
        Write(interface / "bInterfaceNumber", number);
        fs::create_directories(interface / name);
        AddTtyLink(name, interface / name);
        Write(fs::path(dev) / name, "");
    }
    void AddTtyLink(const std::string& name, const fs::path& device) {
        const fs::path entry = fs::path(sys) / "class/tty" / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
    }
    void Unplug(const std::string& name) {
        fs::remove_all(fs::path(sys) / "class/tty" / name);
        fs::remove(fs::path(dev) / name);
    }
    std::string Listed(const std::string& path) {
        const auto name = registry.ReadString(kSerialCommKey, path);
        return name ? *name : "";
    }

    testing::TempDir dir;
    Registry registry;
    std::string sys, dev;
    DeviceManager manager;
};

TEST_F(DeviceManagerTest, ScanFindsOnlyPortsWithAUsbParent) {
    const auto ports = manager.Scan();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].device_path, dev + "/ttyUSB0");
    EXPECT_EQ(ports[0].vendor_id, "c251");
    EXPECT_EQ(ports[0].product_id, "1305");
    EXPECT_EQ(ports[0].instance, "1-1&MI_00");
    EXPECT_EQ(ports[1].instance, "1-1&MI_02");
}

TEST_F(DeviceManagerTest, EachUsbPortGetsAComNameOnceAndKeepsIt) {
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(Listed(dev + "/ttyUSB0"), "COM1");
    EXPECT_EQ(Listed(dev + "/ttyUSB2"), "COM2");
    const auto name = registry.ReadString(
        std::string(kUsbEnumKey) + "\\Vid_c251&Pid_1305\\1-1&MI_02\\Device Parameters", "PortName");
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "COM2");

    // Unplugged: the port leaves the list, its instance keeps its name.
    Unplug("ttyUSB2");
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(Listed(dev + "/ttyUSB2"), "");
    EXPECT_EQ(Listed(dev + "/ttyUSB0"), "COM1");
    // A pseudo-terminal registered meanwhile does not take the unplugged port's name.
    Write(fs::path(dev) / "pts-7", "");
    const auto virtual_name = manager.RegisterPort(dev + "/pts-7");
    ASSERT_TRUE(virtual_name);
    EXPECT_EQ(*virtual_name, "COM3");

    // Plugged in again: the same name.
    AddUsbTty("ttyUSB2", fs::path(sys) / "devices/pci0/usb1/1-1/1-1:1.2", "02");
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(Listed(dev + "/ttyUSB2"), "COM2");
}

TEST_F(DeviceManagerTest, OthersEntriesStayWhileTheirDeviceExists) {
    Write(fs::path(dev) / "pts-3", "");
    ASSERT_TRUE(registry.WriteString(kSerialCommKey, dev + "/pts-3", "COM9"));
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(Listed(dev + "/pts-3"), "COM9");
    EXPECT_EQ(manager.RegisterPort(dev + "/pts-3").value(), "COM9");  // already listed
    fs::remove(fs::path(dev) / "pts-3");
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(Listed(dev + "/pts-3"), "");
}

TEST_F(DeviceManagerTest, ComNamesLookUpTheirDevicePath) {
    ASSERT_TRUE(manager.Refresh());
    EXPECT_EQ(DevicePathOfComName(registry, "COM2"), dev + "/ttyUSB2");
    EXPECT_EQ(DevicePathOfComName(registry, "com1"), dev + "/ttyUSB0");
    EXPECT_EQ(DevicePathOfComName(registry, "COM4"), std::nullopt);
    ASSERT_TRUE(manager.UnregisterPort(dev + "/ttyUSB0"));
    ASSERT_TRUE(manager.UnregisterPort(dev + "/ttyUSB0"));  // nothing left: no failure
    EXPECT_EQ(DevicePathOfComName(registry, "COM1"), std::nullopt);
}

}  // namespace
}  // namespace velka
