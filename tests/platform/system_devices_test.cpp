// What the system says of a modem's device: whether the user may open it (and the
// group that keeps the user out when not), whether ModemManager runs, and whether
// udev has marked the device for ModemManager to leave alone.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/device_access.h"
#include "platform/device_manager.h"
#include "platform/files.h"
#include "platform/modem_manager.h"
#include "platform/registry.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udev_record.h"
#include "tests/support/unprivileged.h"

namespace velka {
namespace {

std::string GroupOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return "";
    const group* entry = ::getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

// A device as a user meets it: a file in a folder everyone may enter.
class DeviceAccess : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0); }
    std::string Device(mode_t mode) {
        const std::string path = dir_.File("ttyUSB0");
        EXPECT_TRUE(files::SaveDurably(path, ""));
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    testing::TempDir dir_;
};

TEST_F(DeviceAccess, ADeviceOnlyItsOwnerAndGroupMayOpenNamesTheGroupAndTheUserRefused) {
    const std::string device = Device(0);
    const std::string group = GroupOf(device);
    ASSERT_FALSE(group.empty());
    const std::optional<bool> named = testing::AsUnprivilegedUser([&] {
        const passwd* me = ::getpwuid(::geteuid());
        const auto denial = DeviceAccessDenial(device);
        return denial && denial->device == device && denial->group == group && me != nullptr &&
               denial->user == me->pw_name;
    });
    EXPECT_EQ(named, true);
}

TEST_F(DeviceAccess, AnOpenDeviceAndAMissingOneAreNoDenial) {
    const std::string device = Device(0666);
    EXPECT_EQ(testing::AsUnprivilegedUser([&] { return !DeviceAccessDenial(device); }), true);
    // No device at all is an unplugged modem, which is told otherwise.
    EXPECT_EQ(testing::AsUnprivilegedUser([&] { return !DeviceAccessDenial(dir_.File("none")); }),
              true);
}

TEST_F(DeviceAccess, APortIsLookedUpByItsComNameInTheDeviceMap) {
    const std::string device = Device(0);
    const std::string group = GroupOf(device);
    // A registry of the unprivileged user's own, in a folder it may write.
    const std::string shared = dir_.File("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const std::optional<bool> found = testing::AsUnprivilegedUser([&] {
        Registry registry(shared + "/registry.db");
        const auto name = DeviceManager(registry).RegisterPort(device);
        if (!name) return false;
        const auto denial = ComPortDenial(registry, *name);
        return denial && denial->group == group && !ComPortDenial(registry, "COM99");
    });
    EXPECT_EQ(found, true);
}

// A process list of our own: one folder per process, its name in "comm".
void AddProcess(const testing::TempDir& proc, const std::string& pid, const std::string& name) {
    ASSERT_EQ(::mkdir(proc.File(pid).c_str(), 0755), 0);
    ASSERT_TRUE(files::SaveDurably(proc.File(pid + "/comm"), name + "\n"));
}

TEST(ModemManagerRunning, FoundByItsProcessNameAmongOthersAndOnlyByTheWholeName) {
    testing::TempDir proc;
    SystemPlaces places;
    places.proc = proc.path();
    AddProcess(proc, "1", "systemd");
    AddProcess(proc, "17", "ModemManagerX");
    ASSERT_TRUE(files::SaveDurably(proc.File("uptime"), "1.0 1.0\n"));
    EXPECT_FALSE(ModemManagerRunning(places));
    AddProcess(proc, "842", "ModemManager");
    EXPECT_TRUE(ModemManagerRunning(places));
    places.proc = proc.File("missing");
    EXPECT_FALSE(ModemManagerRunning(places));
}

class ModemManagerMarks : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = pty_.SlavePath();
        const auto name = velka::testing::UdevRecordName(device_);
        ASSERT_TRUE(name);
        record_ = udev_.File(*name);
        places_.udev_data = udev_.path();
    }

    velka::testing::PtyPair pty_;
    std::string device_;
    testing::TempDir udev_;
    std::string record_;
    SystemPlaces places_;
};

TEST_F(ModemManagerMarks, ADeviceUdevKeepsNoRecordOfIsNoneOfModemManagersBusiness) {
    EXPECT_EQ(ModemManagerMarkOf(device_, places_), ModemManagerMark::Unmanaged);
    EXPECT_EQ(ModemManagerMarkOf(udev_.File("no-such-device"), places_),
              ModemManagerMark::Unmanaged);
    // A file is no character device, whatever udev keeps.
    ASSERT_TRUE(files::SaveDurably(udev_.File("plain"), ""));
    EXPECT_EQ(ModemManagerMarkOf(udev_.File("plain"), places_), ModemManagerMark::Unmanaged);
}

TEST_F(ModemManagerMarks, ARecordWithoutTheIgnoreMarkIsProbedAndWithItIgnored) {
    ASSERT_TRUE(files::SaveDurably(record_,
                                   "S:serial/by-id/usb-Velka_Modem-if00\nE:ID_VENDOR_ID=c251\n"
                                   "E:ID_MM_DEVICE_IGNORE=0\nG:systemd\n"));
    EXPECT_EQ(ModemManagerMarkOf(device_, places_), ModemManagerMark::Probed);
    ASSERT_TRUE(
        files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\nE:ID_MM_DEVICE_IGNORE=1\nG:uaccess\n"));
    EXPECT_EQ(ModemManagerMarkOf(device_, places_), ModemManagerMark::Ignored);
}

TEST_F(ModemManagerMarks, APortIsJudgedByTheDeviceTheDeviceMapListsForIt) {
    Registry registry(udev_.File("registry.db"));
    const auto name = DeviceManager(registry).RegisterPort(device_);
    ASSERT_TRUE(name);
    ASSERT_TRUE(files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\n"));
    EXPECT_EQ(ModemManagerMarkOfPort(registry, *name, places_), ModemManagerMark::Probed);
    EXPECT_EQ(ModemManagerMarkOfPort(registry, "COM99", places_), ModemManagerMark::Unmanaged);
}

}  // namespace
}  // namespace velka
