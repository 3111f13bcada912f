#include "tools/modemsim/registration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka::modemsim {
namespace {

const std::string kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const std::string kModemInstances = kUsb + "Vid_ffff&Pid_1305";

class RegistrationTest : public ::testing::Test {
  protected:
    std::string PortName(const std::string& device_instance) {
        const auto name =
            registry_.ReadString(kUsb + device_instance + "\\Device Parameters", "PortName");
        return name ? *name : "";
    }
    std::string Listed(const std::string& device_path) {
        const auto name = registry_.ReadString(kSerialMap, device_path);
        return name ? *name : "";
    }
    std::unique_ptr<PortRegistration> Register(const std::string& path,
                                               const std::string& instance) {
        auto registration = PortRegistration::Register(registry_, path, instance);
        EXPECT_TRUE(registration.ok()) << (registration.ok() ? "" : registration.error().message);
        return registration.ok() ? std::move(*registration) : nullptr;
    }

    velka::testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
};

TEST_F(RegistrationTest, AModemIsAnInstanceOfTheModemDeviceAndAPresentPort) {
    const auto registration = Register("/run/sim/modem1", "sim-1");
    EXPECT_EQ(registration->com_name(), "COM1");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\sim-1"), "COM1");
    EXPECT_EQ(Listed("/run/sim/modem1"), "COM1");
}

TEST_F(RegistrationTest, TakesTheLowestNumberNoInstanceOfAnyDeviceRecords) {
    ASSERT_TRUE(registry_.WriteString(kUsb + "Vid_c251&Pid_1305\\old\\Device Parameters",
                                      "PortName", "COM1"));
    ASSERT_TRUE(registry_.WriteString(kUsb + "Vid_1234&Pid_0001\\other\\Device Parameters",
                                      "PortName", "com3"));
    const auto second = Register("/run/sim/modem1", "sim-1");
    const auto fourth = Register("/run/sim/modem2", "sim-2");
    EXPECT_EQ(second->com_name(), "COM2");
    EXPECT_EQ(fourth->com_name(), "COM4");
}

TEST_F(RegistrationTest, EndingRemovesItsOwnEntriesOnly) {
    ASSERT_TRUE(registry_.WriteString(kSerialMap, "/dev/ttyS0", "COM9"));
    ASSERT_TRUE(
        registry_.WriteString(kModemInstances + "\\real\\Device Parameters", "PortName", "COM9"));
    Register("/run/sim/modem1", "sim-1").reset();
    EXPECT_FALSE(registry_.KeyExists(kModemInstances + "\\sim-1"));
    EXPECT_EQ(Listed("/run/sim/modem1"), "");
    EXPECT_EQ(Listed("/dev/ttyS0"), "COM9");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\real"), "COM9");
}

TEST_F(RegistrationTest, AnUnpluggedModemLeavesTheMapAndKeepsItsName) {
    const auto registration = Register("/run/sim/modem1", "sim-1");
    ASSERT_TRUE(registration->SetPresent(false).ok());
    EXPECT_EQ(Listed("/run/sim/modem1"), "");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\sim-1"), "COM1");
    ASSERT_TRUE(registration->SetPresent(true).ok());
    EXPECT_EQ(Listed("/run/sim/modem1"), "COM1");
}

TEST_F(RegistrationTest, LeftoversOfAKilledSimulatorAreRemovedAndLiveEntriesKept) {
    // Process ids this high are never handed out.
    const std::string dead = "sim-2147483000-1";
    const std::string alive = "sim-" + std::to_string(::getpid()) + "-1";
    ASSERT_TRUE(registry_.WriteString(kModemInstances + "\\" + dead + "\\Device Parameters",
                                      "PortName", "COM1"));
    ASSERT_TRUE(registry_.WriteString(kSerialMap, "/run/old/modem1", "COM1"));
    const auto live = Register("/run/sim/modem1", alive);
    ASSERT_TRUE(registry_.WriteString(kModemInstances + "\\other-7\\Device Parameters", "PortName",
                                      "COM7"));

    RemoveDeadInstances(registry_, "sim-");
    EXPECT_FALSE(registry_.KeyExists(kModemInstances + "\\" + dead));
    EXPECT_EQ(Listed("/run/old/modem1"), "");
    EXPECT_EQ(Listed("/run/sim/modem1"), live->com_name());
    EXPECT_TRUE(registry_.KeyExists(kModemInstances + "\\other-7"));
    EXPECT_EQ(Register("/run/sim/modem2", "sim-x-2")->com_name(), "COM1");
}

TEST_F(RegistrationTest, ASimulatorRegistersEveryModemAndFollowsItsLine) {
    auto started =
        Simulator::Start(SimulatorOptions{DefaultNumbers(2), dir_.path(), 20, &registry_, "test"});
    ASSERT_TRUE(started.ok()) << started.error().message;
    auto& simulator = **started;
    EXPECT_EQ(simulator.com_name(0), "COM1");
    EXPECT_EQ(simulator.com_name(1), "COM2");
    const std::string path = simulator.modem(1).device_path();
    EXPECT_EQ(Listed(path), "COM2");
    EXPECT_NE(simulator.Control("list").find(path + " COM2 +79990000002 up"), std::string::npos);

    ASSERT_TRUE(simulator.modem(1).DropLine().ok());
    EXPECT_EQ(Listed(path), "");
    ASSERT_TRUE(simulator.modem(1).RestoreLine().ok());
    EXPECT_EQ(Listed(path), "COM2");

    started->reset();
    EXPECT_EQ(Listed(path), "");
    const auto instances = registry_.SubKeys(kModemInstances);
    EXPECT_TRUE(!instances.ok() || instances->empty());
}

// A modem plugged back in where the system names it anew: its old port and
// instance vanish, it comes back under another device path and COM name, and what
// the SIM holds, who it is and what its operator counted stay.
TEST_F(RegistrationTest, AReplugGivesANewPathAndComNameAndKeepsTheModemAndItsSim) {
    SimulatorOptions options{DefaultNumbers(2), dir_.path(), 20, &registry_, "test"};
    options.serials = {{}, {"490154203237518", "", ""}};
    auto started = Simulator::Start(options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    auto& simulator = **started;
    Modem& modem = simulator.modem(1);
    EXPECT_EQ(modem.serials().imei, "490154203237518");
    EXPECT_EQ(modem.serials().iccid, DefaultSerials("+79990000002").iccid) << "the rest derived";
    ASSERT_EQ(simulator.Control("inject 2 +79991112233 kept"), "ok\n");
    ASSERT_EQ(simulator.Control("identity 2 iccid 8939107800023416395"), "ok\n");
    const std::string old_path = modem.device_path();

    ASSERT_EQ(simulator.Control("replug 2"), "ok\n");
    const std::string new_path = modem.device_path();
    EXPECT_NE(new_path, old_path);
    EXPECT_EQ(::access(old_path.c_str(), F_OK), -1) << "the old link is gone";
    EXPECT_EQ(::access(new_path.c_str(), F_OK), 0);
    EXPECT_EQ(Listed(old_path), "");
    EXPECT_EQ(simulator.com_name(1), "COM3");
    EXPECT_EQ(Listed(new_path), "COM3");
    EXPECT_FALSE(registry_.KeyExists(kModemInstances + "\\test-2")) << "the old instance is gone";
    EXPECT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(modem.serials().iccid, "8939107800023416395");
    EXPECT_EQ(simulator.com_name(0), "COM1") << "the other modem is untouched";

    ASSERT_EQ(simulator.Control("replug 2"), "ok\n");
    EXPECT_EQ(simulator.com_name(1), "COM2") << "the lowest free name, as a system gives it";
    EXPECT_EQ(Listed(new_path), "");
}

TEST_F(RegistrationTest, BadIdentitiesAndSendCountsAreRefusedAndChangeNothing) {
    SimulatorOptions options{DefaultNumbers(1), dir_.path(), 20, nullptr, "test"};
    options.faults.resize(1);
    options.faults[0].send_limit = 3;
    auto started = Simulator::Start(options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    auto& simulator = **started;
    const Serials before = simulator.modem(0).serials();
    for (const char* request : {"identity 1 imei 35699900000001", "identity 1 iccid 1234",
                                "identity 1 imsi 12a45", "identity 1 msisdn 123", "sends 1 zero"}) {
        EXPECT_EQ(simulator.Control(request).rfind("error: ", 0), 0u) << request;
    }
    EXPECT_EQ(simulator.modem(0).serials(), before);
    EXPECT_NE(simulator.Control("faults 1").find("send-limit 3 21\n"), std::string::npos);
    EXPECT_EQ(simulator.Control("sends 1"), "0\n");
    EXPECT_EQ(simulator.Control("identity 1"),
              "imei " + before.imei + "\niccid " + before.iccid + "\nimsi " + before.imsi + "\n");
}

// Two interfaces of one USB modem, as the device manager records them: instances of
// one device that differ by "&MI_nn", each with a COM name of its own.
TEST_F(RegistrationTest, ASecondPortIsTheModemsSecondInterfaceAndFollowsItsLine) {
    SimulatorOptions options{DefaultNumbers(2), dir_.path(), 20, &registry_, "test"};
    options.second_ports = {true, false};
    auto started = Simulator::Start(options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    auto& simulator = **started;
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\test-1&MI_00"), "COM1");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\test-1&MI_01"), "COM2");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\test-2"), "COM3");
    const std::string second = simulator.modem(0).device_path(1);
    EXPECT_EQ(second, dir_.path() + "/modem1.2");
    EXPECT_EQ(Listed(second), "COM2");
    EXPECT_NE(simulator.Control("list").find("  second port " + second + " COM2\n"),
              std::string::npos);

    ASSERT_EQ(simulator.Control("drop 1"), "ok\n");
    EXPECT_EQ(Listed(second), "");
    ASSERT_EQ(simulator.Control("restore 1"), "ok\n");
    EXPECT_EQ(Listed(second), "COM2");

    ASSERT_EQ(simulator.Control("replug 1"), "ok\n");
    EXPECT_EQ(simulator.modem(0).device_path(1), dir_.path() + "/modem1-1.2");
    EXPECT_EQ(Listed(second), "");
    EXPECT_EQ(simulator.com_name(0, 0), "COM4");
    EXPECT_EQ(simulator.com_name(0, 1), "COM5");
    EXPECT_EQ(PortName("Vid_ffff&Pid_1305\\test-1-1&MI_01"), "COM5");
    EXPECT_FALSE(registry_.KeyExists(kModemInstances + "\\test-1&MI_00"));
}

}  // namespace
}  // namespace velka::modemsim
