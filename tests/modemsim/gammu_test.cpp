// An independent, widely used client against the simulator: gammu identifies a
// simulated modem, sends through it to another (a plain, a long 7-bit and a long
// UCS2 text), and lists and deletes what arrived there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka::modemsim {
namespace {

const std::string kShort = "Hello from gammu";
const std::string kLong =
    "This text is long enough that it cannot travel as one message, so gammu splits it into "
    "concatenated segments, each carrying a user data header with a reference, the count of "
    "parts and the number of the part itself.";
const std::string kUnicode =
    "Привет! Это сообщение в UCS2, и оно длиннее семидесяти символов, поэтому едет двумя "
    "частями.";

class GammuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto started = Simulator::Start(SimulatorOptions{DefaultNumbers(2), dir_.path(), 20});
        ASSERT_TRUE(started.ok()) << started.error().message;
        simulator_ = std::move(*started);
    }

    // Runs the gammu commands of `batch` in one connection to modem `index` and gives
    // what gammu printed; fails the test when gammu fails.
    std::string Gammu(std::size_t index, const std::vector<std::string>& batch) {
        const std::string config = dir_.File("gammurc" + std::to_string(index));
        const std::string commands = dir_.File("batch" + std::to_string(index));
        std::ofstream(config) << "[gammu]\ndevice = " << simulator_->modem(index).device_path()
                              << "\nconnection = at\n";
        std::ofstream script(commands);
        for (const std::string& line : batch) script << line << "\n";
        script.close();
        // gammu only ever hangs if the simulator stops answering; the bound keeps a
        // broken run from holding the test suite.
        const std::string command =
            "timeout 120 gammu -c '" + config + "' batch '" + commands + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        EXPECT_NE(pipe, nullptr);
        if (pipe == nullptr) return "";
        std::string output;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        const int status = ::pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "gammu failed (is it installed? scripts/setup.sh installs it):\n"
            << output;
        return output;
    }

    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1))
            ++n;
        return n;
    }

    velka::testing::TempDir dir_;
    std::unique_ptr<Simulator> simulator_;
};

TEST_F(GammuTest, IdentifiesSendsToAnotherModemListsAndDeletes) {
    const std::string sent =
        Gammu(0, {
                     "identify",
                     "sendsms TEXT +79990000002 -text \"" + kShort + "\"",
                     "sendsms TEXT +79990000002 -autolen 400 -text \"" + kLong + "\"",
                     "sendsms TEXT +79990000002 -unicode -autolen 200 -text \"" + kUnicode + "\"",
                 });
    EXPECT_NE(sent.find("Manufacturer         : Velka"), std::string::npos) << sent;
    EXPECT_NE(sent.find("IMEI                 : 356999000000011"), std::string::npos) << sent;
    EXPECT_EQ(Count(sent, "OK, message reference="), 5u) << sent;

    const auto arrived = simulator_->modem(1).Messages();
    ASSERT_EQ(arrived.size(), 5u);
    for (const StoredMessage& message : arrived) {
        const auto deliver = ParseDeliver(message.pdu);
        ASSERT_TRUE(deliver.ok()) << message.pdu;
        EXPECT_EQ(deliver->originator, "+79990000001");
    }
    EXPECT_EQ(UserDataText(ParseDeliver(arrived[0].pdu)->data), kShort);
    EXPECT_EQ(ParseDeliver(arrived[4].pdu)->data.coding, 0x08);
    EXPECT_TRUE(ParseDeliver(arrived[4].pdu)->data.has_header);

    const std::string received = Gammu(1, {"geteachsms", "deletesms 1 1 5", "getallsms"});
    // geteachsms joins linked segments: whole texts prove the concatenation headers.
    EXPECT_NE(received.find(kShort), std::string::npos) << received;
    EXPECT_NE(received.find(kLong), std::string::npos) << received;
    EXPECT_NE(received.find(kUnicode), std::string::npos) << received;
    EXPECT_NE(received.find("Remote number        : \"+79990000001\""), std::string::npos);
    EXPECT_NE(received.find("0 SMS parts in 0 SMS sequences"), std::string::npos) << received;
    EXPECT_TRUE(simulator_->modem(1).Messages().empty());
}

}  // namespace
}  // namespace velka::modemsim
