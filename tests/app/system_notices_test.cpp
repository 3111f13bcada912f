// What the client tells a user whose system stands between it and the modem: a port
// the user may not open (the group and the command that mends it, in the window, the
// settings' list and on the error stream), and ModemManager about to probe the modem.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/modem_manager_notice.h"
#include "app/port_offer.h"
#include "app/status_text.h"
#include "platform/codepage.h"
#include "platform/device_manager.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udev_record.h"
#include "tests/support/unprivileged.h"

namespace velka::app {
namespace {

std::string Utf8(const std::string& text) {
    return codepage::ToUtf8(text);
}

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PortDenied, TheWindowsSentenceNamesTheDeviceTheGroupAndTheCommandThatMendsIt) {
    const DeviceDenial denial{"/dev/ttyUSB0", "dialout", "ivan"};
    const std::string text = Utf8(ModemStateText({modem::ModemState::PortDenied, -1, denial}));
    EXPECT_TRUE(Holds(text, "Нет прав на порт модема /dev/ttyUSB0")) << text;
    EXPECT_TRUE(Holds(text, "группе dialout")) << text;
    EXPECT_TRUE(Holds(text, "sudo usermod -aG dialout ivan")) << text;
    EXPECT_TRUE(Holds(text, "войдите в систему заново")) << text;
    EXPECT_EQ(Utf8(ModemStateWord(modem::ModemState::PortDenied)), "нет доступа к порту");

    const std::string english = PortDeniedEnglish(denial);
    EXPECT_TRUE(Holds(english, "permission denied on the modem's port /dev/ttyUSB0")) << english;
    EXPECT_TRUE(Holds(english, "'sudo usermod -aG dialout ivan'")) << english;
}

TEST(PortDenied, TheSettingsListMarksAPortTheUserMayNotOpenWithItsGroup) {
    EXPECT_EQ(Utf8(PortLabel({"COM9", "", codepage::FromUtf8("dialout")})),
              "COM9 (нет доступа: группа dialout)");
    EXPECT_EQ(Utf8(PortLabel({"COM9", "Huawei E173", ""})), "COM9 (Huawei E173)");

    testing::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string closed = dir.File("ttyUSB0");
    const std::string open = dir.File("ttyUSB1");
    ASSERT_TRUE(files::SaveDurably(closed, ""));
    ASSERT_TRUE(files::SaveDurably(open, ""));
    ASSERT_EQ(::chmod(closed.c_str(), 0), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0666), 0);
    const std::optional<bool> marked = testing::AsUnprivilegedUser([&] {
        Registry registry(dir.File("registry.db"));
        DeviceManager devices(registry);
        const auto closed_name = devices.RegisterPort(closed);
        const auto open_name = devices.RegisterPort(open);
        if (!closed_name || !open_name) return false;
        const std::string label = Utf8(ModemPortLabel(registry, *closed_name));
        return Holds(label, *closed_name + " (нет доступа: группа ") &&
               ModemPortLabel(registry, *open_name) == *open_name;
    });
    EXPECT_EQ(marked, true);
}

// A process that the system lists as ModemManager: a copy of sleep under that name,
// ended when the test ends.
class ModemManagerStandIn {
  public:
    explicit ModemManagerStandIn(const testing::TempDir& dir) {
        const std::string program = dir.File("ModemManager");
        std::filesystem::copy_file("/bin/sleep", program);
        ::chmod(program.c_str(), 0755);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(program.c_str(), "ModemManager", "600", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ModemManagerStandIn() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ModemManagerStandIn(const ModemManagerStandIn&) = delete;
    ModemManagerStandIn& operator=(const ModemManagerStandIn&) = delete;

    // Until the exec is done the child still bears the test's name.
    bool Listed() const {
        return testing::Eventually([&] {
            std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
            std::string name;
            return std::getline(comm, name) && name == "ModemManager";
        });
    }

  private:
    pid_t pid_ = -1;
};

// A modem's port as the client sees it: a terminal listed in the device map, and
// udev's record of it in a tree of the test's own.
class ModemManagerNoticeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string& device = pty_.SlavePath();
        const auto name = DeviceManager(registry_).RegisterPort(device);
        ASSERT_TRUE(name);
        port_ = static_cast<std::uint16_t>(std::stoi(name->substr(3)));
        const auto record = velka::testing::UdevRecordName(device);
        ASSERT_TRUE(record);
        record_ = udev_.File(*record);
        places_.udev_data = udev_.path();
    }

    testing::TempDir dir_;
    testing::TempDir udev_;
    Registry registry_{dir_.File("registry.db")};
    testing::PtyPair pty_;
    std::uint16_t port_ = 0;
    std::string record_;
    SystemPlaces places_;
};

TEST_F(ModemManagerNoticeTest, ARunningServiceAndAnUnmarkedPortAreToldWithTheRemedy) {
    const ModemManagerStandIn service(dir_);
    ASSERT_TRUE(service.Listed());
    ASSERT_TRUE(files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\nE:ID_MODEL_ID=1305\n"));
    const std::string notice = Utf8(ModemManagerNotice(registry_, port_, places_));
    EXPECT_TRUE(Holds(notice, "Служба ModemManager работает")) << notice;
    EXPECT_TRUE(Holds(notice, "COM" + std::to_string(port_))) << notice;
    EXPECT_TRUE(Holds(notice, "ID_MM_DEVICE_IGNORE=1")) << notice;
    EXPECT_TRUE(Holds(notice, "sudo systemctl stop ModemManager")) << notice;

    // The package's rule marked it: nothing to say.
    ASSERT_TRUE(files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\nE:ID_MM_DEVICE_IGNORE=1\n"));
    EXPECT_EQ(ModemManagerNotice(registry_, port_, places_), "");
    // No port set, or a port no device stands behind.
    ASSERT_TRUE(files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\n"));
    EXPECT_EQ(ModemManagerNotice(registry_, 0, places_), "");
    EXPECT_EQ(ModemManagerNotice(registry_, 99, places_), "");
}

TEST_F(ModemManagerNoticeTest, WithoutTheServiceOrForADeviceUdevDoesNotKeepNothingIsSaid) {
    ASSERT_TRUE(files::SaveDurably(record_, "E:ID_VENDOR_ID=c251\n"));
    testing::TempDir no_service;
    SystemPlaces quiet = places_;
    quiet.proc = no_service.path();
    EXPECT_EQ(ModemManagerNotice(registry_, port_, quiet), "");

    // A pseudo-terminal, as the virtual modem's: udev keeps no record of it.
    const ModemManagerStandIn service(dir_);
    ASSERT_TRUE(service.Listed());
    ASSERT_TRUE(std::filesystem::remove(record_));
    EXPECT_EQ(ModemManagerNotice(registry_, port_, places_), "");
}

}  // namespace
}  // namespace velka::app
