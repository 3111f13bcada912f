// Events that a kill never loses: a process receiving from the virtual modem with
// a webhook set (events_child, the worker and the delivery as the window runs them)
// is killed with SIGKILL at random moments while messages keep arriving, and
// started again, round after round; then it runs undisturbed until the SIM is
// empty. A receiver here, on 127.0.0.1, checks every request's signature. Every
// message given to the modem must then have reached it as sms:received, under one
// event id: a kill between the post and its mark in events.db sends the same event
// again, which the receiver knows by its id, and a kill between the keeping and the
// delete leaves the message on the SIM, to be told before it is deleted next time.
//
// VELKA_KILL_ROUNDS sets the kills (default 10); VELKA_KILL_SEED repeats a run.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "app/app_core.h"
#include "platform/hmac.h"
#include "platform/mutex.h"
#include "platform/profile.h"
#include "tests/app/child_process.h"
#include "tests/app/config_ini.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/temp_dir.h"
#include "webhooks/hooks.h"

namespace velka::webhooks {
namespace {

using namespace std::chrono_literals;

constexpr char kSender[] = "+79165550100";
constexpr char kSecret[] = "kill-test-secret";

std::string Tag(int number) {
    return "<m" + std::to_string(number) + ">";
}

// The hook: checks each request's signature and keeps, by event id, the tag of
// the message it tells of; answers 204 to every well-signed sms:received.
class Receiver {
  public:
    Receiver() {
        server_.Post("/hook", [this](const httplib::Request& request, httplib::Response& answer) {
            answer.status = Take(request) ? 204 : 400;
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // The library signals nothing when it runs: look every 2 ms, as Eventually does.
        while (!server_.is_running()) std::this_thread::sleep_for(2ms);
    }
    ~Receiver() {
        server_.stop();
        thread_.join();
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }

    struct Tally {
        std::map<std::string, std::set<std::string>> ids_by_tag;  // event ids told per message
        std::size_t requests = 0;
        std::size_t repeats = 0;  // requests whose event id came before
        std::size_t badly_signed = 0;
    };
    Tally tally() const {
        MutexLock guard(lock_);
        return tally_;
    }

  private:
    bool Take(const httplib::Request& request) {
        const std::string stamp = request.get_header_value("X-Velka-Timestamp");
        const auto digest = HmacSha256(kSecret, stamp + "." + request.body);
        const bool signed_right = digest && request.get_header_value("X-Velka-Signature") ==
                                                "sha256=" + LowerHex(*digest);
        const auto body = nlohmann::json::parse(request.body, nullptr, false);
        MutexLock guard(lock_);
        ++tally_.requests;
        if (!signed_right || body.is_discarded() || body.value("event", "") != "sms:received") {
            ++tally_.badly_signed;
            return false;
        }
        const std::string id = body.value("id", "");
        tally_.repeats += seen_.contains(id);
        seen_.insert(id);
        const std::string text = body["message"].value("text", "");
        tally_.ids_by_tag[text.substr(text.find('<'))].insert(id);
        return true;
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable Mutex lock_;
    Tally tally_ GUARDED_BY(lock_);
    std::set<std::string> seen_ GUARDED_BY(lock_);
};

class EventsKillTest : public ::testing::Test {
  protected:
    EventsKillTest() : modems_(1, 250) {
        const std::string config = home_.File(app::kConfigFile);
        EXPECT_TRUE(velka::testing::WriteModemConfig(config, modems_.ComName(1), true));
        EXPECT_TRUE(profile::WriteString(config, kSection, "Url1", receiver_.Url()).ok());
        EXPECT_TRUE(profile::WriteString(config, kSection, "Events1", "sms:received").ok());
        EXPECT_TRUE(
            profile::WriteString(home_.File(kSecretsFile), "Secrets", "Secret1", kSecret).ok());
    }

    // The child, its standard input a pipe whose write end goes to `input`.
    pid_t Spawn(int& input) {
        const pid_t pid = velka::testing::SpawnChild(VELKA_EVENTS_CHILD, "", environment_, &input);
        EXPECT_GT(pid, 0);
        return pid;
    }

    void Inject(int number) {
        modems_.Control(std::string("inject 1 ") + kSender + " message " + Tag(number));
        injected_.insert(Tag(number));
    }

    bool EveryMessageTold() const {
        const Receiver::Tally tally = receiver_.tally();
        for (const std::string& tag : injected_)
            if (!tally.ids_by_tag.contains(tag)) return false;
        return true;
    }

    Receiver receiver_;
    velka::testing::SimModems modems_;
    velka::testing::TempDir home_;
    std::vector<std::string> environment_ = velka::testing::ChildEnvironment(home_.path());
    std::set<std::string> injected_;
};

TEST_F(EventsKillTest, KilledAtRandomEveryMessageOnTheSimIsToldUnderOneId) {
    const unsigned long rounds = velka::testing::EnvironmentNumber("VELKA_KILL_ROUNDS", 10);
    const unsigned long seed =
        velka::testing::EnvironmentNumber("VELKA_KILL_SEED", std::random_device()());
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    // A start, a reception cycle and its posts take some hundreds of milliseconds
    // here; the kills fall anywhere among them.
    std::uniform_int_distribution<int> moment_ms(0, 600);
    std::uniform_int_distribution<int> arrivals(1, 5);

    int next = 0;
    unsigned long kills = 0;
    for (unsigned long round = 0; round < rounds && !HasFailure(); ++round) {
        for (int i = arrivals(random); i > 0; --i) Inject(++next);
        int input = -1;
        const pid_t child = Spawn(input);
        ASSERT_GT(child, 0);
        // More arrive while it runs, as the modem announces them.
        std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random) / 2));
        Inject(++next);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random) / 2));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(input);
        kills += WIFSIGNALED(status);
    }

    int input = -1;
    const pid_t last = Spawn(input);
    ASSERT_GT(last, 0);
    const bool told = velka::testing::Eventually(
        [&] { return modems_.Store(1).empty() && EveryMessageTold(); }, 60s);
    ::close(input);
    int status = 0;
    ASSERT_EQ(::waitpid(last, &status, 0), last);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the last run did not end well";
    EXPECT_TRUE(told) << "the undisturbed run left messages on the SIM or untold";

    const Receiver::Tally tally = receiver_.tally();
    std::size_t lost = 0;
    std::size_t under_two_ids = 0;
    for (const std::string& tag : injected_) {
        const auto found = tally.ids_by_tag.find(tag);
        lost += found == tally.ids_by_tag.end();
        under_two_ids += found != tally.ids_by_tag.end() && found->second.size() > 1;
    }
    EXPECT_EQ(lost, 0u) << "on the SIM but never told";
    EXPECT_EQ(under_two_ids, 0u) << "one message told under two event ids";
    EXPECT_EQ(tally.badly_signed, 0u);
    EXPECT_EQ(tally.ids_by_tag.size(), injected_.size()) << "told of a message never given";
    std::printf(
        "events kill test (seed %lu): %lu kills, %zu messages, %zu requests, %zu repeats of "
        "an event id; lost %zu\n",
        seed, kills, injected_.size(), tally.requests, tally.repeats, lost);
}

}  // namespace
}  // namespace velka::webhooks
