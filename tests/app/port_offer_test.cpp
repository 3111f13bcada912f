// Other makers' modems in the settings dialog's list: which ports are probed, what
// a probe finds and how it is labelled, on virtual modems made to look like
// another maker's USB device.
#include "app/port_offer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "platform/mutex.h"
#include "tests/modem/sim_fixture.h"

namespace velka::app {
namespace {

using testing::Eventually;

constexpr char kOtherMaker[] = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_12d1&Pid_1506";

class PortOfferTest : public ::testing::Test {
  protected:
    PortOfferTest() : modems_(3) {
        for (std::size_t position : {2, 3}) modems_.AsAnotherMakers(position, kOtherMaker);
    }
    ~PortOfferTest() override { IgnoreFailure(Registry::Machine().DeleteKey(kOtherMaker)); }

    // What a probe of `ports` finds, once every probe has ended.
    std::vector<AnsweringPort> Probe(const std::vector<std::string>& ports) {
        Mutex lock;
        std::vector<AnsweringPort> found;
        PortProbe probe(ports, [&](const AnsweringPort& answering) {
            MutexLock guard(lock);
            found.push_back(answering);
        });
        probe.Finish();
        MutexLock guard(lock);
        return found;
    }

    testing::SimModems modems_;
};

TEST_F(PortOfferTest, OnlyOtherMakersPortsAreProbedAndNeverTheOneTheWorkerHolds) {
    std::vector<std::string> others = {modems_.ComName(2), modems_.ComName(3)};
    std::vector<std::string> probed = PortsToProbe(Registry::Machine(), 0);
    std::sort(probed.begin(), probed.end());
    std::sort(others.begin(), others.end());
    EXPECT_EQ(probed, others) << "the modem's own port is offered without a probe";
    EXPECT_EQ(PortsToProbe(Registry::Machine(), modems_.ComNumber(2)),
              std::vector<std::string>{modems_.ComName(3)});
}

TEST_F(PortOfferTest, AnAnsweringModemIsLabelledWithWhatItSaysItIs) {
    const auto found = Probe({modems_.ComName(2)});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].port, modems_.ComName(2));
    EXPECT_EQ(found[0].name, "Velka Virtual GSM Modem");
    EXPECT_EQ(PortLabel(found[0]), modems_.ComName(2) + " (Velka Virtual GSM Modem)");
    EXPECT_EQ(PortLabel({"COM4", "", ""}), "COM4 (" + codepage::FromUtf8("модем") + ")")
        << "a modem that will not name itself";
    EXPECT_TRUE(Eventually([&] { return modems_.Written(2).find("AT\r") != std::string::npos; }));
}

TEST_F(PortOfferTest, SilentPortsAndPortsThatCannotOpenAreLeftOut) {
    modems_.Control("fault 3 silent on");
    const auto found = Probe({modems_.ComName(2), modems_.ComName(3), "COM99", "XYZ"});
    EXPECT_EQ(found,
              (std::vector<AnsweringPort>{{modems_.ComName(2), "Velka Virtual GSM Modem", ""}}));
}

}  // namespace
}  // namespace velka::app
