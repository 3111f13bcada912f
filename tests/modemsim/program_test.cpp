// velka-modemsim as a person runs it: the lines it prints, its control channel, the
// registry entries it makes, and a clean end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/registry.h"
#include "tests/modemsim/client_line.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace velka::modemsim {
namespace {

const std::string kProgram = VELKA_MODEMSIM_PROGRAM;
const std::string kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Outcome {
    int status = -1;  // the exit status, or -1 when it did not exit normally
    std::string output;
};

// Runs the program to its end with `args`, stdout and stderr together.
Outcome RunProgram(const std::string& args) {
    Outcome outcome;
    FILE* pipe = ::popen((kProgram + " " + args + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        outcome.output.append(buffer, n);
    const int status = ::pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// A running simulator whose output lines are read as they come.
class Server {
  public:
    explicit Server(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output_ = ::fdopen(fds[0], "r");
    }
    ~Server() {
        if (pid_ > 0) Stop();
        if (output_ != nullptr) std::fclose(output_);
    }
    // The next line it prints, without its line feed; empty at its end.
    std::string Line() {
        char line[512];
        if (output_ == nullptr || std::fgets(line, sizeof line, output_) == nullptr) return "";
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    // Sends `signal` and gives the exit status (-1 when it did not exit normally).
    int Stop(int signal = SIGTERM) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
};

class ProgramTest : public ::testing::Test {
  protected:
    std::string Ctl(const std::string& request, int expected_status = 0) {
        const Outcome outcome = RunProgram("ctl --dir " + dir_.path() + " " + request);
        EXPECT_EQ(outcome.status, expected_status) << request << ": " << outcome.output;
        return outcome.output;
    }
    velka::testing::TempDir dir_;
    Registry registry_{std::getenv("VELKA_REGISTRY")};
};

TEST_F(ProgramTest, ServesRegistersAnswersControlRequestsAndCleansUp) {
    Server server({"--count", "2", "--numbers", "+79161111111,+79162222222", "--dir", dir_.path()});
    const std::string first = dir_.File("modem1"), second = dir_.File("modem2");
    ASSERT_EQ(server.Line(), "modem: " + first + " COM1 +79161111111");
    ASSERT_EQ(server.Line(), "modem: " + second + " COM2 +79162222222");
    EXPECT_EQ(*registry_.ReadString(kSerialMap, second), "COM2");

    {
        modemsim::testing::ClientLine line(first);
        line.Write("AT\r");
        EXPECT_EQ(line.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    }
    EXPECT_NE(Ctl("list").find(second + " COM2 +79162222222 up 0 stored"), std::string::npos);
    EXPECT_EQ(Ctl("inject 2 +7123 Hello there"), "ok\n");
    EXPECT_NE(Ctl("store 2").find("from +7123: Hello there"), std::string::npos);
    EXPECT_NE(Ctl("transcript 1").find(" > AT\\r"), std::string::npos);
    EXPECT_NE(Ctl("fault 1 delay soon", 1).find("error: "), std::string::npos);

    // A second simulator must not take over the devices of a running one.
    const Outcome rival = RunProgram("--count 1 --dir " + dir_.path());
    EXPECT_EQ(rival.status, 1) << rival.output;
    EXPECT_TRUE(std::filesystem::is_symlink(first));

    EXPECT_EQ(server.Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("control")));
    EXPECT_FALSE(std::filesystem::is_symlink(first));
    EXPECT_FALSE(registry_.ReadString(kSerialMap, first).ok());
    EXPECT_FALSE(registry_.ReadString(kSerialMap, second).ok());
}

TEST_F(ProgramTest, ARunAfterAKilledOneGetsTheSameComNamesAndDevices) {
    {
        Server killed({"--count", "2", "--dir", dir_.path()});
        ASSERT_EQ(killed.Line(), "modem: " + dir_.File("modem1") + " COM1 +79990000001");
        ASSERT_EQ(killed.Line(), "modem: " + dir_.File("modem2") + " COM2 +79990000002");
        EXPECT_EQ(killed.Stop(SIGKILL), -1);
    }
    Server server({"--count", "2", "--dir", dir_.path()});
    EXPECT_EQ(server.Line(), "modem: " + dir_.File("modem1") + " COM1 +79990000001");
    EXPECT_EQ(server.Line(), "modem: " + dir_.File("modem2") + " COM2 +79990000002");
    modemsim::testing::ClientLine line(dir_.File("modem2"));
    line.Write("AT\r");
    EXPECT_EQ(line.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(server.Stop(), 0);
    const auto instances =
        registry_.SubKeys("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffff&Pid_1305");
    EXPECT_TRUE(!instances.ok() || instances->empty());
}

TEST_F(ProgramTest, BadArgumentsGetUsageAndStatus2) {
    for (const char* args :
         {"--count 0", "--count 2 --numbers +7111", "--numbers +7abc", "--bogus 1", "--count"}) {
        const Outcome outcome = RunProgram(std::string(args) + " --dir " + dir_.path());
        EXPECT_EQ(outcome.status, 2) << args;
        EXPECT_NE(outcome.output.find("usage: velka-modemsim"), std::string::npos) << args;
    }
}

TEST_F(ProgramTest, ControlWithoutASimulatorSaysSo) {
    const std::string answer = Ctl("list", 1);
    EXPECT_NE(answer.find("no velka-modemsim answers in " + dir_.path()), std::string::npos)
        << answer;
}

}  // namespace
}  // namespace velka::modemsim
