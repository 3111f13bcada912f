// The kill test: a child worker process sends queued records to several
// recipients through the virtual modem and is killed with SIGKILL at random
// moments, round after round, then runs once undisturbed. What the modem accepted
// is what the virtual network passed on. Afterwards nothing queued is lost, every
// message the modem accepted in full is in outbox.db, and outbox.db holds nothing
// the modem did not accept in full (looked at after every kill too). Duplicates
// (a message the modem accepted twice) are counted and printed: they come only
// from kills between the modem's "+CMGS:" and the flushed note of it.
//
// It runs with one modem and with a pool of three, where a text's segments must
// all come from one sender to count as accepted in full.
//
// VELKA_KILL_ROUNDS sets the number of kills (default 12, seconds of running);
// bench/queue_kill.sh runs it with over a thousand. VELKA_KILL_SEED repeats a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "app/app_core.h"
#include "platform/profile.h"
#include "settings/pool_settings.h"
#include "store/store_file.h"
#include "tests/app/child_process.h"
#include "tests/app/config_ini.h"
#include "tests/modem/sim_fixture.h"

namespace velka::app {
namespace {

constexpr int kRecordsPerBatch = 50;
constexpr int kLongEvery = 5;  // every fifth record goes out in three segments
const std::vector<std::string> kRecipients = {"+79165550001", "+79165550002", "+79165550003",
                                              "+79165550004", "+79165550005"};

// One queued record, told apart from the others in what reaches the network by
// its tag, which every segment of its text carries whole.
struct Planned {
    std::string tag;  // "<b1r7>"
    std::string number;
    std::string text;
};

Planned Plan(int batch, int index) {
    Planned planned;
    planned.tag = "<b" + std::to_string(batch) + "r" + std::to_string(index) + ">";
    planned.number = kRecipients[static_cast<std::size_t>(index) % kRecipients.size()];
    if (index % kLongEvery == 0) {
        while (planned.text.size() < 300) planned.text += planned.tag;
    } else {
        planned.text = "msg " + planned.tag;
    }
    return planned;
}

std::string TagIn(const std::string& text) {
    const auto open = text.find('<');
    const auto close = text.find('>', open);
    return open == std::string::npos || close == std::string::npos
               ? std::string()
               : text.substr(open, close - open + 1);
}

// A segment as the phone joins it: by sender and reference, then its number.
struct Segment {
    std::string sender;
    int reference = 0;
    int number = 0;
    auto operator<=>(const Segment&) const = default;
};

// What the network passed on, by record.
struct Accepted {
    std::size_t messages = 0;                           // every accepted message
    std::map<std::string, std::set<Segment>> segments;  // tag -> its segments
    std::map<std::string, std::size_t> single;          // tag -> times accepted
    std::map<std::string, int> segment_count;           // tag -> segments of its text

    bool InFull(const std::string& tag) const {
        if (const auto found = single.find(tag); found != single.end()) return found->second > 0;
        const auto found = segments.find(tag);
        if (found == segments.end()) return false;
        const int count = segment_count.at(tag);
        std::map<std::pair<std::string, int>, int> per_reference;
        for (const Segment& segment : found->second)
            ++per_reference[{segment.sender, segment.reference}];
        for (const auto& [reference, numbers] : per_reference)
            if (numbers == count) return true;
        return false;
    }
    // Messages accepted more than once: the same segment number, or the same text.
    std::size_t Duplicates() const {
        std::size_t distinct = 0;
        for (const auto& [tag, times] : single) distinct += times > 0;
        for (const auto& [tag, parts] : segments) {
            std::set<int> numbers;
            for (const Segment& segment : parts) numbers.insert(segment.number);
            distinct += numbers.size();
        }
        return messages - distinct;
    }
};

Accepted WhatTheModemAccepted(testing::SimModems& modems) {
    Accepted accepted;
    for (const auto& message : modems.Outside()) {
        ++accepted.messages;
        const std::string tag = TagIn(message.text);
        const auto& octets = message.data.octets;
        if (message.data.has_header && octets.size() >= 6) {
            accepted.segments[tag].insert({message.sender, octets[3], octets[5]});
            accepted.segment_count[tag] = octets[4];
        } else {
            ++accepted.single[tag];
        }
    }
    return accepted;
}

// The parameter: how many modems the pool has.
class QueueKillTest : public ::testing::TestWithParam<std::size_t> {
  protected:
    QueueKillTest() : modems_(GetParam()) {
        EXPECT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), false));
        for (std::size_t modem = 2; modem <= GetParam(); ++modem) {
            EXPECT_TRUE(profile::WriteString(home_.File(kConfigFile),
                                             settings::ModemSection(static_cast<int>(modem)),
                                             "SerialPort", modems_.ComName(modem)));
        }
    }

    pid_t SpawnWorker() {
        const pid_t pid = testing::SpawnChild(VELKA_WORKER_CHILD, "send", environment_);
        EXPECT_GT(pid, 0);
        return pid;
    }

    void QueueBatch(int batch) {
        std::vector<packet> records;
        for (int i = 0; i < kRecordsPerBatch; ++i) {
            const Planned planned = Plan(batch, i);
            records.push_back(MakePacket(planned.number, "08.12.2026 10:00:00", planned.text));
            queued_.insert(planned.tag);
        }
        AppCore queuing(home_.path());
        ASSERT_TRUE(queuing.Enqueue(records).ok());
    }

    std::size_t Waiting() {
        const auto waiting = AppCore(home_.path()).QueuedCount();
        EXPECT_TRUE(waiting.ok());
        return waiting ? *waiting : 0;
    }

    // Tags of outbox.db's records, in order.
    std::vector<std::string> Recorded() {
        const auto outbox = store::Load(home_.File(kOutboxFile));
        EXPECT_TRUE(outbox.ok());
        std::vector<std::string> tags;
        if (outbox) {
            for (const packet& record : *outbox)
                tags.push_back(TagIn(std::string(record.text_text())));
        }
        return tags;
    }

    // Nothing in outbox.db the modem did not accept in full, and nothing twice.
    void ExpectOutboxHonest(const char* when) {
        const Accepted accepted = WhatTheModemAccepted(modems_);
        std::set<std::string> seen;
        for (const std::string& tag : Recorded()) {
            EXPECT_TRUE(accepted.InFull(tag)) << tag << " recorded but not accepted, " << when;
            EXPECT_TRUE(seen.insert(tag).second) << tag << " recorded twice, " << when;
        }
    }

    testing::SimModems modems_;
    velka::testing::TempDir home_;
    std::vector<std::string> environment_ = testing::ChildEnvironment(home_.path());
    std::set<std::string> queued_;
};

TEST_P(QueueKillTest, KilledAtRandomNothingQueuedIsLostAndTheOutboxTellsTheTruth) {
    const unsigned long rounds = testing::EnvironmentNumber("VELKA_KILL_ROUNDS", 12);
    const unsigned long seed =
        testing::EnvironmentNumber("VELKA_KILL_SEED", std::random_device()());
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    std::uniform_int_distribution<int> moment_ms(0, 300);

    int batches = 0;
    unsigned long kills = 0;
    unsigned long finished_undisturbed = 0;
    while (kills < rounds && !HasFailure()) {
        if (Waiting() == 0) QueueBatch(++batches);
        const pid_t child = SpawnWorker();
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFSIGNALED(status)) {
            ++kills;
        } else {
            ++finished_undisturbed;
        }
        ExpectOutboxHonest("after a kill");
    }

    const pid_t last = SpawnWorker();
    std::promise<void> ended;
    std::thread watchdog([&, finished = ended.get_future()] {
        if (finished.wait_for(std::chrono::minutes(2)) == std::future_status::timeout)
            ::kill(last, SIGKILL);
    });
    int status = 0;
    const pid_t waited = ::waitpid(last, &status, 0);
    ended.set_value();
    watchdog.join();
    ASSERT_EQ(waited, last);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the undisturbed run did not finish; the modem saw last:\n"
        << modems_.Control("transcript 1")
               .substr(std::max<std::size_t>(modems_.Control("transcript 1").size(), 4000) - 4000);
    ExpectOutboxHonest("at the end");

    const Accepted accepted = WhatTheModemAccepted(modems_);
    const std::vector<std::string> recorded = Recorded();
    const std::set<std::string> in_outbox(recorded.begin(), recorded.end());
    std::size_t lost = 0;
    std::size_t unrecorded = 0;
    for (const std::string& tag : queued_) {
        lost += !in_outbox.contains(tag);
        unrecorded += accepted.InFull(tag) && !in_outbox.contains(tag);
    }
    EXPECT_EQ(Waiting(), 0u);
    EXPECT_EQ(lost, 0u) << "queued but lost";
    EXPECT_EQ(unrecorded, 0u) << "accepted but not recorded";
    EXPECT_EQ(recorded.size(), queued_.size());
    std::printf(
        "kill test (seed %lu, %zu modems): %lu kills, %lu runs ended by themselves, %zu records "
        "in %d batches, %zu messages accepted, %zu duplicates; queued-but-lost %zu, "
        "accepted-but-unrecorded %zu\n",
        seed, GetParam(), kills, finished_undisturbed, queued_.size(), batches, accepted.messages,
        accepted.Duplicates(), lost, unrecorded);
}

INSTANTIATE_TEST_SUITE_P(OneModemAndAPool, QueueKillTest, ::testing::Values(1u, 3u));

}  // namespace
}  // namespace velka::app
