#include "webhooks/delivery.h"

#include <httplib.h>

#include <algorithm>

#include "platform/hmac.h"
#include "platform/wait.h"
#include "webhooks/events.h"

namespace velka::webhooks {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Target {
    std::string origin;  // scheme, host and port: what the client connects to
    std::string path;
};

Target Split(const std::string& url) {
    const std::size_t host = url.find("://") + 3;
    const std::size_t slash = url.find('/', host);
    if (slash == std::string::npos) return {url, "/"};
    return {url.substr(0, slash), url.substr(slash)};
}

std::string Signature(const Hook& hook, const std::string& timestamp, const std::string& body) {
    const auto digest = HmacSha256(hook.secret, timestamp + "." + body);
    return digest ? "sha256=" + LowerHex(*digest) : std::string();
}

}  // namespace

Delivery::Delivery(EventJournal& journal, std::vector<Hook> hooks, DeliveryTiming timing,
                   std::function<void()> failing_changed)
    : journal_(journal), timing_(timing), failing_changed_(std::move(failing_changed)) {
    for (Hook& hook : hooks) hooks_.push_back({hooks_.size(), std::move(hook)});
    MutexLock guard(lock_);
    posting_.assign(hooks_.size(), nullptr);
}

Delivery::~Delivery() {
    Stop();
}

void Delivery::Start() {
    for (HookState& state : hooks_) threads_.emplace_back([this, &state] { Run(state); });
}

void Delivery::Wake() {
    MutexLock guard(lock_);
    ++wakes_;
    wake_.notify_all();
}

void Delivery::Stop() {
    {
        MutexLock guard(lock_);
        stopping_ = true;
        for (httplib::Client* client : posting_)
            if (client != nullptr) client->stop();
        wake_.notify_all();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

std::vector<std::string> Delivery::FailingHooks() const {
    MutexLock guard(lock_);
    return failing_;
}

// Wakes for a recorded event (Wake), the hook's retry, or Stop.
void Delivery::Run(HookState& state) {
    std::uint64_t seen = 0;
    for (;;) {
        {
            MutexLock guard(lock_);
            seen = wakes_;
        }
        if (SteadyClock::now() >= state.due) Serve(state);
        const auto next = state.failures > 0 ? state.due : kNever;
        MutexLock guard(lock_);
        WaitUntil(wake_, lock_, next,
                  [&]() REQUIRES(lock_) { return wakes_ != seen || stopping_; });
        if (stopping_) return;
    }
}

void Delivery::Serve(HookState& state) {
    for (const Event& event : journal_.Pending(state.hook.key)) {
        {
            MutexLock guard(lock_);
            if (stopping_) return;
        }
        if (!state.hook.Wants(event.name)) continue;
        const auto age = std::chrono::milliseconds(NowMs() - event.time_ms);
        if (age > timing_.give_up_after) {
            // A mark refused by the disk is tried again on the next pass.
            IgnoreFailure(journal_.Mark(event.id, state.hook.key, HookOutcome::GivenUp));
            continue;
        }
        if (!Post(state, event)) {
            Failed(state);
            return;
        }
        // Acknowledged: the receiver has it. A mark the disk refuses only means
        // the receiver may get it again after a restart, which its id tells.
        IgnoreFailure(journal_.Mark(event.id, state.hook.key, HookOutcome::Acknowledged));
        Succeeded(state);
    }
}

bool Delivery::Post(const HookState& state, const Event& event) {
    const Hook& hook = state.hook;
    const Target target = Split(hook.url);
    httplib::Client client(target.origin);
    client.set_connection_timeout(timing_.connect_timeout);
    client.set_read_timeout(timing_.answer_timeout);
    client.set_write_timeout(timing_.answer_timeout);
    const std::string timestamp = std::to_string(NowMs() / 1000);
    const std::string signature = Signature(hook, timestamp, event.body);
    if (signature.empty()) return false;
    const httplib::Headers headers = {
        {"X-Velka-Event", event.name},
        {"X-Velka-Event-Id", EventIdText(event.id)},
        {"X-Velka-Timestamp", timestamp},
        {"X-Velka-Signature", signature},
    };
    {
        MutexLock guard(lock_);
        if (stopping_) return false;
        posting_[state.index] = &client;
    }
    const httplib::Result answer =
        client.Post(target.path, headers, event.body, "application/json; charset=utf-8");
    MutexLock guard(lock_);
    posting_[state.index] = nullptr;
    return answer && answer->status >= 200 && answer->status < 300;
}

// The pause doubles with each failure in a row, from first_retry to longest_retry.
void Delivery::Failed(HookState& state) {
    ++state.failures;
    auto pause = timing_.first_retry;
    for (int i = 1; i < state.failures && pause < timing_.longest_retry; ++i) pause *= 2;
    state.due = SteadyClock::now() + std::min(pause, timing_.longest_retry);
    if (state.failures != kFailuresToTell) return;
    {
        MutexLock guard(lock_);
        failing_.push_back(state.hook.url);
    }
    if (failing_changed_) failing_changed_();
}

void Delivery::Succeeded(HookState& state) {
    const bool was_failing = state.failures >= kFailuresToTell;
    state.failures = 0;
    state.due = {};
    if (!was_failing) return;
    {
        MutexLock guard(lock_);
        std::erase(failing_, state.hook.url);
    }
    if (failing_changed_) failing_changed_();
}

}  // namespace velka::webhooks
