// The delivery of the journal's events to the hooks: a thread per hook, in the
// process that drives the modem, posts each event its hook wants as JSON, signed,
// in the order recorded, and marks it in the journal when the hook acknowledges it (2xx).
// A hook that fails is tried again after a pause that doubles from first_retry up
// to longest_retry; an event it has not taken within give_up_after of its time is
// marked given up, and the next goes. A thread of its own per hook, so that one
// that hangs or fails never holds up another.
//
// The request (docs/webhooks.md):
//   POST <url>   Content-Type: application/json; charset=utf-8
//   X-Velka-Event: sms:received        X-Velka-Event-Id: <the body's id>
//   X-Velka-Timestamp: <seconds since 1970 UTC, when signed>
//   X-Velka-Signature: sha256=<hex HMAC-SHA256(secret, timestamp + "." + body)>
//
// Threads: the hooks' threads, owned by Delivery from Start to Stop; Wake and
// FailingHooks from any thread. The delivery's lock is never held across the
// journal's or a post.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "webhooks/event_journal.h"
#include "webhooks/hooks.h"

namespace httplib {
class Client;
}

namespace velka::webhooks {

struct DeliveryTiming {
    std::chrono::milliseconds first_retry{1000};
    std::chrono::milliseconds longest_retry{std::chrono::minutes(10)};
    std::chrono::milliseconds give_up_after{std::chrono::hours(24)};
    // A receiver that does not connect or answer within these counts as failing;
    // it holds no other hook up for longer.
    std::chrono::seconds connect_timeout{5};
    std::chrono::seconds answer_timeout{10};
};

// A hook keeps failing after this many failed attempts in a row: the window says so.
inline constexpr int kFailuresToTell = 3;

class Delivery {
  public:
    // `journal` must be open and outlive it. `failing_changed` runs on a hook's
    // thread whenever the set of failing hooks changes.
    Delivery(EventJournal& journal, std::vector<Hook> hooks, DeliveryTiming timing = {},
             std::function<void()> failing_changed = {});
    // Stop().
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // Starts the threads. Once.
    void Start();
    // An event was recorded: every hook's thread looks at once. Any thread; never blocks
    // beyond the delivery's lock.
    void Wake() EXCLUDES(lock_);
    // Ends the posts under way (their events are tried again at the next start)
    // and joins the threads. Any thread but the hooks'. On Linux a post waiting
    // for its answer ends at once; under Wine (and perhaps Windows) a read waiting
    // on a socket shut down from another thread is not woken, so such a post ends
    // at its answer_timeout.
    void Stop() EXCLUDES(lock_);
    // The URLs of the hooks that keep failing. Any thread.
    std::vector<std::string> FailingHooks() const EXCLUDES(lock_);

  private:
    // A hook's progress: its own thread's alone.
    struct HookState {
        std::size_t index = 0;  // in hooks_ and posting_
        Hook hook;
        int failures = 0;                             // in a row
        std::chrono::steady_clock::time_point due{};  // not tried before
    };

    void Run(HookState& state) EXCLUDES(lock_);
    // Posts what `state`'s hook is owed, in order, until one fails or Stop.
    void Serve(HookState& state) EXCLUDES(lock_);
    bool Post(const HookState& state, const Event& event) EXCLUDES(lock_);
    void Failed(HookState& state) EXCLUDES(lock_);
    void Succeeded(HookState& state) EXCLUDES(lock_);

    EventJournal& journal_;
    const DeliveryTiming timing_;
    const std::function<void()> failing_changed_;
    std::vector<HookState> hooks_;  // each element its hook's thread's alone

    mutable Mutex lock_;
    ConditionVariable wake_;
    std::uint64_t wakes_ GUARDED_BY(lock_) = 0;  // Wake calls so far
    bool stopping_ GUARDED_BY(lock_) = false;
    std::vector<std::string> failing_ GUARDED_BY(lock_);
    // By hook: the post under way, for Stop to end; null between posts.
    std::vector<httplib::Client*> posting_ GUARDED_BY(lock_);
    std::vector<std::thread> threads_;
};

}  // namespace velka::webhooks
