// Reception that nothing loses and nothing doubles, whatever happens around it.
//
// The kill test: a receiving process (worker_child once, one cycle as
// velka-sms-cli receive runs it) is killed with SIGKILL at random moments while
// messages arrive, round after round, then runs undisturbed until the SIM is
// empty. Every message the modem was given is then in inbox.db exactly once: a
// kill between the store and the delete leaves it on the SIM, and the next cycle
// knows it by its identity.
//
// The two-process tests: a watching process (worker_child watch, as
// velka-sms-cli watch) receives a stream of messages while this process deletes
// messages from inbox.db as fast as it can through the window's own call. Every
// message ends either in inbox.db or among those deleted, once. And a sending
// process (worker_child send) beside the same deleter on outbox.db: every sent
// record ends in outbox.db or among those deleted, and its state still names it.
//
// VELKA_KILL_ROUNDS sets the kills (default 10) and VELKA_TWO_PROCESS_MESSAGES the
// stream (default 120); bench/reception_kill.sh runs both with over a thousand.
// VELKA_KILL_SEED repeats a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "app/app_core.h"
#include "messages/delivery_states.h"
#include "messages/message_list.h"
#include "store/joined_box.h"
#include "store/sent_file.h"
#include "store/store_file.h"
#include "tests/app/child_process.h"
#include "tests/app/config_ini.h"
#include "tests/modem/sim_fixture.h"

namespace velka::app {
namespace {

constexpr const char* kSender = "+79165550100";

std::string Tag(int number) {
    return "<m" + std::to_string(number) + ">";
}

class ReceptionKillTest : public ::testing::Test {
  protected:
    ReceptionKillTest() : modems_(1, 250) {
        EXPECT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), true));
    }

    // The child in `mode`; with `input`, its standard input is a pipe whose write
    // end is put there.
    pid_t Spawn(const char* mode, int* input = nullptr) {
        const pid_t pid = testing::SpawnChild(VELKA_WORKER_CHILD, mode, environment_, input);
        EXPECT_GT(pid, 0);
        return pid;
    }

    // Runs the child to its end; true when it ended by itself with success.
    bool RunUndisturbed(const char* mode) {
        const pid_t child = Spawn(mode);
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }

    void Inject(int number) {
        modems_.Control(std::string("inject 1 ") + kSender + " message " + Tag(number));
        injected_.insert(Tag(number));
    }

    // How often each tag stands in the store file.
    std::map<std::string, int> Stored(const char* file = kInboxFile) {
        std::map<std::string, int> stored;
        const auto box = store::Load(home_.File(file));
        EXPECT_TRUE(box.ok());
        if (!box) return stored;
        for (const packet& record : *box) {
            const std::string text(record.text_text());
            ++stored[text.substr(text.find('<'))];
        }
        return stored;
    }

    // Deletes the newest message of the store file, as the window deletes it, when
    // its number is odd or `odd_only` is false; gives its tag, or nothing.
    std::optional<std::string> DeleteNewest(const char* file, bool odd_only = false) {
        const std::string path = home_.File(file);
        const auto box = store::JoinedBox::Open(path);
        EXPECT_TRUE(box.ok());
        if (!box || box->size() == 0) return std::nullopt;
        const store::JoinedMessage newest = box->at(box->size() - 1);
        const std::size_t digit = newest.text.rfind('>') - 1;
        if (odd_only && (newest.text[digit] - '0') % 2 == 0) return std::nullopt;
        EXPECT_TRUE(messages::RemoveMessage(path, *box, newest));
        return newest.text.substr(newest.text.find('<'));
    }

    std::size_t Twice(const std::map<std::string, int>& stored) {
        std::size_t twice = 0;
        for (const auto& [tag, times] : stored) twice += times > 1;
        return twice;
    }

    testing::SimModems modems_;
    velka::testing::TempDir home_;
    std::vector<std::string> environment_ = testing::ChildEnvironment(home_.path());
    std::set<std::string> injected_;
};

TEST_F(ReceptionKillTest, KilledAtRandomEveryMessageIsStoredOnce) {
    const unsigned long rounds = testing::EnvironmentNumber("VELKA_KILL_ROUNDS", 10);
    const unsigned long seed =
        testing::EnvironmentNumber("VELKA_KILL_SEED", std::random_device()());
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    // A cycle takes about 0.2 s here; most kills fall inside one.
    std::uniform_int_distribution<int> moment_ms(0, 180);
    std::uniform_int_distribution<int> arrivals(1, 5);

    int next = 0;
    unsigned long kills = 0;
    unsigned long ended_by_themselves = 0;
    while (kills < rounds && !HasFailure()) {
        // Never more than the SIM holds, so no arrival is refused for want of room.
        if (modems_.Store(1).size() < 200) {
            for (int i = arrivals(random); i > 0; --i) Inject(++next);
        }
        const pid_t child = Spawn("once");
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        WIFSIGNALED(status) ? ++kills : ++ended_by_themselves;
    }
    for (int run = 0; run < 5 && !modems_.Store(1).empty(); ++run) {
        ASSERT_TRUE(RunUndisturbed("once"));
    }
    EXPECT_TRUE(modems_.Store(1).empty()) << "the undisturbed runs left messages on the SIM";

    const auto stored = Stored();
    std::size_t lost = 0;
    for (const std::string& tag : injected_) lost += !stored.contains(tag);
    EXPECT_EQ(lost, 0u) << "given to the modem but not stored";
    EXPECT_EQ(Twice(stored), 0u) << "stored twice";
    EXPECT_EQ(stored.size(), injected_.size());
    std::printf(
        "reception kill test (seed %lu): %lu kills, %lu runs ended by themselves, %zu "
        "messages; lost %zu, stored twice %zu\n",
        seed, kills, ended_by_themselves, injected_.size(), lost, Twice(stored));
}

TEST_F(ReceptionKillTest, AReceiverAndADeleterBesideItLoseNothing) {
    const int messages =
        static_cast<int>(testing::EnvironmentNumber("VELKA_TWO_PROCESS_MESSAGES", 120));
    int input = -1;
    const pid_t watcher = Spawn("watch", &input);
    ASSERT_GT(watcher, 0);
    const std::string inbox_path = home_.File(kInboxFile);
    // The deleter: as fast as it can, the newest message shown, the one an append
    // most likely races, until the stream has ended and the SIM is empty.
    std::map<std::string, int> deleted;
    std::atomic<bool> stream_ended{false};
    std::thread deleter([&] {
        int after_end = 0;
        for (std::uint64_t pass = 0; after_end < 20; ++pass) {
            if (stream_ended.load()) ++after_end;
            // Every other pass only reads, as a view that refreshes does.
            if (pass % 2 == 1) {
                EXPECT_TRUE(store::JoinedBox::Open(inbox_path).ok());
            } else if (const auto tag = DeleteNewest(kInboxFile)) {
                ++deleted[*tag];
            }
        }
    });
    // The stream: a message every few milliseconds, each announced by the modem.
    for (int next = 1; next <= messages && !HasFailure(); ++next) {
        while (modems_.Store(1).size() >= 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Inject(next);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    const bool emptied = testing::Eventually([&] { return modems_.Store(1).empty(); });
    stream_ended = true;
    deleter.join();
    ::close(input);
    int status = 0;
    ASSERT_EQ(::waitpid(watcher, &status, 0), watcher);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the watcher did not end well";
    ASSERT_TRUE(emptied) << "the watcher left messages on the SIM";

    const auto stored = Stored();
    std::size_t lost = 0;
    std::size_t both = 0;
    for (const std::string& tag : injected_) {
        lost += !stored.contains(tag) && !deleted.contains(tag);
        both += stored.contains(tag) && deleted.contains(tag);
    }
    EXPECT_EQ(lost, 0u) << "neither in inbox.db nor deleted by the user";
    EXPECT_EQ(both, 0u) << "deleted by the user but stored again";
    EXPECT_EQ(Twice(stored) + Twice(deleted), 0u) << "stored twice";
    EXPECT_GT(deleted.size(), 0u);
    std::printf(
        "two processes: %zu messages, %zu deleted beside the receiver, %zu kept; lost "
        "%zu\n",
        injected_.size(), deleted.size(), stored.size(), lost);
}

// The worker appends sent records and their messages' references to outbox.db and
// outbox.states while the window deletes from them: no record is lost and every
// state still names its record.
TEST_F(ReceptionKillTest, ASenderAndADeleterBesideItKeepEveryRecordAndItsState) {
    const int records =
        static_cast<int>(testing::EnvironmentNumber("VELKA_TWO_PROCESS_MESSAGES", 120));
    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), false));
    std::set<std::string> queued;
    std::vector<packet> batch;
    for (int i = 1; i <= records; ++i) {
        batch.push_back(MakePacket("+79165550001", "09.12.2026 10:00:00", "sent " + Tag(i)));
        queued.insert(Tag(i));
    }
    ASSERT_TRUE(AppCore(home_.path()).Enqueue(batch).ok());
    const pid_t sender = Spawn("send");
    ASSERT_GT(sender, 0);
    std::map<std::string, int> deleted;
    int status = 0;
    pid_t ended = 0;
    // Only the odd ones, so that the even ones stay to have their states checked.
    while ((ended = ::waitpid(sender, &status, WNOHANG)) == 0) {
        if (const auto tag = DeleteNewest(kOutboxFile, true)) ++deleted[*tag];
    }
    ASSERT_EQ(ended, sender);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the sender did not end well";

    const auto kept = Stored(kOutboxFile);
    std::size_t lost = 0;
    for (const std::string& tag : queued) lost += !kept.contains(tag) && !deleted.contains(tag);
    EXPECT_EQ(lost, 0u) << "sent but neither in outbox.db nor deleted";
    EXPECT_EQ(Twice(kept) + Twice(deleted), 0u);
    EXPECT_GT(deleted.size(), 0u);
    EXPECT_GE(kept.size(), queued.size() / 2) << "every even one stays";
    const std::string outbox = home_.File(kOutboxFile);
    const auto box = store::BoxFile::Open(outbox);
    ASSERT_TRUE(box.ok());
    const auto states = messages::LoadDeliveryStates(outbox, *box);
    ASSERT_TRUE(states.ok());
    EXPECT_EQ(states->unbelieved, 0u) << "a state names a record it no longer stands beside";
    const auto sent = store::LoadSent(store::SentPathFor(outbox));
    ASSERT_TRUE(sent.ok());
    EXPECT_EQ(sent->entries.size(), box->size()) << "one reference for each kept record";
    std::printf(
        "sender and deleter: %d records, %zu deleted beside the sender, %zu kept; lost %zu\n",
        records, deleted.size(), kept.size(), lost);
}

}  // namespace
}  // namespace velka::app
