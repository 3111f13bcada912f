// The delivery against a real receiver on 127.0.0.1 (cpp-httplib's server): every
// event signed and in order, retried after failures and across a restart, marked
// in the journal once acknowledged; a receiver that hangs or fails holds up no
// other hook, and a hook that keeps failing is told.
#include "webhooks/delivery.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/hmac.h"
#include "platform/mutex.h"
#include "tests/support/raw_socket.h"
#include "tests/support/temp_dir.h"
#include "webhooks/events.h"

namespace velka::webhooks {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 20s;  // a generous bound on what should take milliseconds
constexpr char kSecret[] = "s3cr3t";

// A webhook receiver: checks each request's signature and keeps what came, in
// order; answers `status` (500 while set to fail) and can hang for a while.
class Receiver {
  public:
    Receiver() {
        server_.Post("/hook", [this](const httplib::Request& request, httplib::Response& answer) {
            Take(request, answer);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop before the server runs would be lost, and this version of the
        // library signals nothing when it runs: look every 2 ms, as Eventually does.
        while (!server_.is_running()) std::this_thread::sleep_for(2ms);
    }
    ~Receiver() {
        {
            MutexLock guard(lock_);
            released_ = true;
            came_.notify_all();
        }
        server_.stop();
        thread_.join();
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }
    void FailNext(int count) { failures_left_ = count; }
    void HangFor(std::chrono::milliseconds pause) { hang_ = pause; }

    struct Got {
        std::string id;
        std::string event;
        bool signed_right = false;
    };
    // Waits until `count` requests came (whatever the answer), within kBound.
    std::vector<Got> WaitFor(std::size_t count) {
        MutexLock guard(lock_);
        came_.wait_for(lock_, kBound, [&]() REQUIRES(lock_) { return got_.size() >= count; });
        return got_;
    }
    // Waits until `count` requests were acknowledged, within kBound.
    std::vector<Got> Acknowledged(std::size_t count = 0) {
        MutexLock guard(lock_);
        came_.wait_for(lock_, kBound,
                       [&]() REQUIRES(lock_) { return acknowledged_.size() >= count; });
        return acknowledged_;
    }

  private:
    void Take(const httplib::Request& request, httplib::Response& answer) {
        {
            MutexLock guard(lock_);
            came_.wait_for(lock_, hang_.load(), [&]() REQUIRES(lock_) { return released_; });
        }
        const std::string timestamp = request.get_header_value("X-Velka-Timestamp");
        const auto digest = HmacSha256(kSecret, timestamp + "." + request.body);
        Got got{request.get_header_value("X-Velka-Event-Id"),
                request.get_header_value("X-Velka-Event"),
                digest &&
                    request.get_header_value("X-Velka-Signature") == "sha256=" + LowerHex(*digest)};
        const bool fail = failures_left_.fetch_sub(1) > 0;
        answer.status = fail ? 500 : 204;
        MutexLock guard(lock_);
        got_.push_back(got);
        if (!fail) acknowledged_.push_back(got);
        came_.notify_all();
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<int> failures_left_{0};
    std::atomic<std::chrono::milliseconds> hang_{0ms};
    Mutex lock_;
    ConditionVariable came_;
    std::vector<Got> got_ GUARDED_BY(lock_);
    std::vector<Got> acknowledged_ GUARDED_BY(lock_);
    bool released_ GUARDED_BY(lock_) = false;  // the receiver ends: a hang ends too
};

// A receiver that answers badly, as a broken or misconfigured hook does, written
// on a bare socket so that it can answer what no HTTP server would: its first
// `bad` requests get `bad_answer` as raw bytes, the connection then closed (an
// empty `bad_answer`: no answer at all, until the client gives up and closes);
// later ones get 204. One connection at a time, as one hook's delivery posts.
class BadReceiver {
  public:
    BadReceiver(std::string bad_answer, int bad) : bad_answer_(std::move(bad_answer)), bad_(bad) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~BadReceiver() {
        // Wakes the accept; a connection held unanswered is the client's to close.
        listener_.Stop();
        thread_.join();
    }

    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(listener_.Port()) + "/hook";
    }

    struct Attempt {
        std::string id;
        std::chrono::steady_clock::time_point when;
    };
    // Waits until `count` requests came, within kBound.
    std::vector<Attempt> WaitFor(std::size_t count) {
        MutexLock guard(lock_);
        came_.wait_for(lock_, kBound, [&]() REQUIRES(lock_) { return attempts_.size() >= count; });
        return attempts_;
    }

  private:
    void Serve() {
        while (const auto connection = listener_.Accept()) Answer(*connection);
    }
    // Reads one request and answers it as scripted.
    void Answer(testing::RawConnection& connection) {
        const std::string request = ReadRequest(connection);
        if (request.empty()) return;
        bool bad = false;
        {
            MutexLock guard(lock_);
            bad = static_cast<int>(attempts_.size()) < bad_;
            attempts_.push_back(
                {HeaderOf(request, "X-Velka-Event-Id"), std::chrono::steady_clock::now()});
            came_.notify_all();
        }
        const std::string answer =
            bad ? bad_answer_ : "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
        if (answer.empty()) {
            // No answer: waits for the client's time-out to close the connection.
            char byte = 0;
            while (connection.Receive(&byte, 1) > 0) {
            }
            return;
        }
        connection.Send(answer);
    }
    static std::string ReadRequest(testing::RawConnection& connection) {
        std::string request;
        char chunk[4096];
        std::size_t wanted = std::string::npos;
        while (wanted == std::string::npos || request.size() < wanted) {
            const long got = connection.Receive(chunk, sizeof chunk);
            if (got <= 0) return {};
            request.append(chunk, static_cast<std::size_t>(got));
            const std::size_t end = request.find("\r\n\r\n");
            if (wanted != std::string::npos || end == std::string::npos) continue;
            const std::string length = HeaderOf(request, "Content-Length");
            wanted = end + 4 + (length.empty() ? 0 : std::stoul(length));
        }
        return request;
    }
    static std::string HeaderOf(const std::string& request, const std::string& name) {
        const std::size_t at = request.find("\r\n" + name + ": ");
        if (at == std::string::npos) return {};
        const std::size_t from = at + name.size() + 4;
        return request.substr(from, request.find("\r\n", from) - from);
    }

    const std::string bad_answer_;
    const int bad_;
    testing::RawListener listener_;
    std::thread thread_;
    Mutex lock_;
    ConditionVariable came_;
    std::vector<Attempt> attempts_ GUARDED_BY(lock_);
};

// The hook's marks in the journal, which the delivery's thread writes after the
// answer: looked at every 2 ms until `count` are there, within kBound.
std::vector<HookOutcome> Marks(const EventJournal& journal, const std::string& url,
                               std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    for (;;) {
        std::vector<HookOutcome> marks;
        for (const StoredEvent& stored : journal.Events())
            if (const auto found = stored.done.find(HookKey(url)); found != stored.done.end())
                marks.push_back(found->second);
        if (marks.size() >= count || std::chrono::steady_clock::now() > deadline) return marks;
        std::this_thread::sleep_for(2ms);
    }
}

Event Recorded(std::uint64_t id, const std::string& name = "sms:received") {
    return {id, NowMs(), name, R"({"id":")" + EventIdText(id) + R"(","event":")" + name + "\"}"};
}

std::vector<std::string> Ids(const std::vector<Receiver::Got>& got) {
    std::vector<std::string> ids;
    for (const auto& one : got) ids.push_back(one.id);
    return ids;
}

std::vector<std::string> IdsOf(std::initializer_list<std::uint64_t> ids) {
    std::vector<std::string> texts;
    for (const std::uint64_t id : ids) texts.push_back(EventIdText(id));
    return texts;
}

DeliveryTiming Quick() {
    DeliveryTiming timing;
    timing.first_retry = 20ms;
    timing.longest_retry = 80ms;
    timing.connect_timeout = 5s;
    timing.answer_timeout = 1s;
    return timing;
}

class DeliveryTest : public ::testing::Test {
  protected:
    EventJournal& Journal() {
        journal_.emplace(dir_.File("events.db"));
        EXPECT_TRUE(journal_->Open([](const StoredEvent&) { return false; }).ok());
        return *journal_;
    }
    Hook HookTo(const std::string& url, std::vector<std::string> events = {}) {
        return {url, std::move(events), kSecret, HookKey(url)};
    }

    velka::testing::TempDir dir_;
    std::optional<EventJournal> journal_;
};

TEST_F(DeliveryTest, EveryEventArrivesSignedInOrderAndIsMarkedAcknowledged) {
    Receiver receiver;
    EventJournal& journal = Journal();
    ASSERT_TRUE(journal.Append({Recorded(1), Recorded(2, "sms:sent")}).ok());
    Delivery delivery(journal, {HookTo(receiver.Url())}, Quick());
    delivery.Start();
    ASSERT_TRUE(journal.Append({Recorded(3, "sms:delivered")}).ok());
    delivery.Wake();

    const auto got = receiver.WaitFor(3);
    EXPECT_EQ(Ids(got), IdsOf({1, 2, 3}));
    for (const auto& one : got) EXPECT_TRUE(one.signed_right) << one.id;
    EXPECT_EQ(got[1].event, "sms:sent");
    EXPECT_EQ(Marks(journal, receiver.Url(), 3),
              std::vector<HookOutcome>(3, HookOutcome::Acknowledged));
}

TEST_F(DeliveryTest, AFailingReceiverGetsTheSameEventAgainBeforeAnyLaterOneAndIsToldWhileItFails) {
    Receiver receiver;
    receiver.FailNext(kFailuresToTell + 1);
    EventJournal& journal = Journal();
    ASSERT_TRUE(journal.Append({Recorded(1), Recorded(2)}).ok());
    std::atomic<int> told{0};
    Delivery delivery(journal, {HookTo(receiver.Url())}, Quick(), [&] { ++told; });
    delivery.Start();

    const auto got = receiver.WaitFor(kFailuresToTell + 3);
    EXPECT_EQ(Ids(got), IdsOf({1, 1, 1, 1, 1, 2}));
    EXPECT_EQ(Ids(receiver.Acknowledged(2)), IdsOf({1, 2}));
    delivery.Stop();
    // Told when it began to keep failing, and again when it recovered.
    EXPECT_EQ(told.load(), 2);
    EXPECT_TRUE(delivery.FailingHooks().empty());
}

TEST_F(DeliveryTest,
       WhatAReceiverDidNotAcknowledgeBeforeAStopArrivesAfterTheRestartAndNothingTwice) {
    Receiver receiver;
    {
        EventJournal& journal = Journal();
        ASSERT_TRUE(journal.Append({Recorded(1)}).ok());
        Delivery delivery(journal, {HookTo(receiver.Url())}, Quick());
        delivery.Start();
        receiver.WaitFor(1);
        receiver.FailNext(1000);
        ASSERT_TRUE(journal.Append({Recorded(2)}).ok());
        delivery.Wake();
        receiver.WaitFor(2);
        delivery.Stop();
    }
    receiver.FailNext(0);
    EventJournal& reopened = Journal();
    Delivery delivery(reopened, {HookTo(receiver.Url())}, Quick());
    delivery.Start();
    ASSERT_TRUE(reopened.Append({Recorded(3)}).ok());
    delivery.Wake();
    EXPECT_EQ(Ids(receiver.Acknowledged(3)), IdsOf({1, 2, 3}));
    delivery.Stop();
    EXPECT_EQ(Ids(receiver.Acknowledged()), IdsOf({1, 2, 3}));
}

TEST_F(DeliveryTest, AReceiverThatHangsHoldsUpNoOtherHookAndAStopEndsItsPost) {
    Receiver hanging;
    hanging.HangFor(2 * kBound);
    Receiver quick;
    EventJournal& journal = Journal();
    ASSERT_TRUE(journal.Append({Recorded(1)}).ok());
    DeliveryTiming timing = Quick();
#ifdef _WIN32
    // A stop does not wake the post's read here (Delivery::Stop): it ends at its time-out.
    timing.answer_timeout = 2s;
    constexpr auto kStopBound = 2s + kBound;
#else
    timing.answer_timeout = 30s;
    constexpr auto kStopBound = kBound;
#endif
    Delivery delivery(journal, {HookTo(hanging.Url()), HookTo(quick.Url())}, timing);
    delivery.Start();
    EXPECT_EQ(Ids(quick.WaitFor(1)), IdsOf({1}));
    // The request came before its answer went: a stop in between would end the
    // quick hook's post too, so its mark is waited for.
    EXPECT_EQ(Marks(journal, quick.Url(), 1), std::vector<HookOutcome>{HookOutcome::Acknowledged});
    const auto asked = std::chrono::steady_clock::now();
    delivery.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, kStopBound);
    // The hanging hook never acknowledged it: still owed after a restart.
    EXPECT_EQ(journal.Pending(HookKey(hanging.Url())).size(), 1u);
    EXPECT_TRUE(journal.Pending(HookKey(quick.Url())).empty());
}

TEST_F(DeliveryTest, AHookGetsOnlyTheEventsItAsksForAndAnEventPastTheDayIsGivenUp) {
    Receiver receiver;
    EventJournal& journal = Journal();
    Event old = Recorded(1);
    old.time_ms -= 25LL * 60 * 60 * 1000;
    ASSERT_TRUE(journal.Append({old, Recorded(2, "modem:state"), Recorded(3, "sms:sent")}).ok());
    Delivery delivery(journal, {HookTo(receiver.Url(), {"sms:received", "sms:sent"})}, Quick());
    delivery.Start();
    EXPECT_EQ(Ids(receiver.WaitFor(1)), IdsOf({3}));
    EXPECT_EQ(Marks(journal, receiver.Url(), 2),
              (std::vector<HookOutcome>{HookOutcome::GivenUp, HookOutcome::Acknowledged}));
    delivery.Stop();
    EXPECT_FALSE(journal.Events()[1].done.contains(HookKey(receiver.Url())));
}

TEST_F(DeliveryTest, AnAddressNobodyListensOnCountsAsFailingAndIsTold) {
    int port = 0;
    {
        Receiver gone;  // its port is free again once it ends
        port = std::stoi(gone.Url().substr(gone.Url().rfind(':') + 1));
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/hook";
    EventJournal& journal = Journal();
    ASSERT_TRUE(journal.Append({Recorded(1)}).ok());
    Mutex lock;
    ConditionVariable told;
    bool failing = false;
    Delivery delivery(journal, {HookTo(url)}, Quick(), [&] {
        MutexLock guard(lock);
        failing = true;
        told.notify_all();
    });
    delivery.Start();
    {
        MutexLock guard(lock);
        told.wait_for(lock, kBound, [&]() REQUIRES(lock) { return failing; });
    }
    EXPECT_EQ(delivery.FailingHooks(), std::vector<std::string>{url});
    delivery.Stop();
    EXPECT_EQ(journal.Pending(HookKey(url)).size(), 1u);
}

// Whatever way a hook answers badly, the event is tried again after pauses that
// double, no later event goes before it, and once the hook answers well both
// arrive in order. A 410 Gone is no exception: a hook taken down for a while must
// not lose the events meanwhile; the user removes a hook from Config.ini.
TEST_F(DeliveryTest, ABadAnswerIsAFailureRetriedWithBackOffAndTheOrderHolds) {
    struct Case {
        const char* what;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"500", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"},
        {"301",
         "HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1:1/\r\n"
         "Content-Length: 0\r\n\r\n"},
        {"410", "HTTP/1.1 410 Gone\r\nContent-Length: 0\r\n\r\n"},
        {"garbage instead of an answer", "\x16\x03\x01 not HTTP at all\r\n\r\n"},
        {"closed in the status line", "HTTP/1.1 20"},
        {"closed in the headers", "HTTP/1.1 204 No Content\r\nConnection: cl"},
        {"no answer within the time-out", ""},
    };
    constexpr int kBad = 3;
    for (const Case& one : cases) {
        SCOPED_TRACE(one.what);
        BadReceiver receiver(one.answer, kBad);
        journal_.reset();
        std::filesystem::remove(dir_.File("events.db"));
        EventJournal& journal = Journal();
        ASSERT_TRUE(journal.Append({Recorded(1), Recorded(2)}).ok());
        const DeliveryTiming timing = Quick();
        Delivery delivery(journal, {HookTo(receiver.Url())}, timing);
        delivery.Start();
        const auto attempts = receiver.WaitFor(kBad + 2);
        // The last request came before its answer went: its mark is waited for.
        EXPECT_EQ(Marks(journal, receiver.Url(), 2),
                  std::vector<HookOutcome>(2, HookOutcome::Acknowledged));
        delivery.Stop();
        ASSERT_EQ(attempts.size(), kBad + 2u);
        std::vector<std::string> ids;
        for (const auto& attempt : attempts) ids.push_back(attempt.id);
        EXPECT_EQ(ids, IdsOf({1, 1, 1, 1, 2}));
        // The pauses are lower bounds whatever the machine's speed: 20, 40, 80 ms.
        for (int i = 1; i <= kBad; ++i) {
            const auto pause = std::min(timing.first_retry * (1 << (i - 1)), timing.longest_retry);
            EXPECT_GE(attempts[i].when - attempts[i - 1].when, pause) << "before attempt " << i;
        }
    }
}

TEST_F(DeliveryTest, ATwoHundredIsAnAcknowledgementWhateverItsBody) {
    BadReceiver receiver("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n\x01\xfe{garbage", 1);
    EventJournal& journal = Journal();
    ASSERT_TRUE(journal.Append({Recorded(1), Recorded(2)}).ok());
    Delivery delivery(journal, {HookTo(receiver.Url())}, Quick());
    delivery.Start();
    const auto attempts = receiver.WaitFor(2);
    EXPECT_EQ(Marks(journal, receiver.Url(), 2),
              std::vector<HookOutcome>(2, HookOutcome::Acknowledged));
    delivery.Stop();
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[1].id, EventIdText(2)) << "the first was taken as acknowledged";
}

}  // namespace
}  // namespace velka::webhooks
