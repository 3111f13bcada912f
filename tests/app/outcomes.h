// What a worker reported, collected for a test to wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "app/worker.h"

namespace velka::testing {

class Outcomes {
  public:
    struct Entry {
        std::uint64_t id;
        app::SendOutcome outcome;
        std::chrono::steady_clock::time_point at;
    };

    app::WorkerEvents Events() {
        return {[this](std::uint64_t id, app::SendOutcome outcome) {
                    std::lock_guard guard(lock_);
                    sends_.push_back({id, outcome, std::chrono::steady_clock::now()});
                    changed_.notify_all();
                },
                [this](const std::vector<store::ReceivedRecord>& stored) {
                    std::lock_guard guard(lock_);
                    for (const store::ReceivedRecord& kept : stored)
                        received_.push_back(kept.record);
                    changed_.notify_all();
                },
                [this](app::StoreFile file, const Error&) {
                    std::lock_guard guard(lock_);
                    store_failures_.push_back(file);
                    changed_.notify_all();
                },
                [this](const modem::ModemStatus& status) {
                    std::lock_guard guard(lock_);
                    states_.push_back(status);
                    changed_.notify_all();
                },
                [this](const modem::ModemInfo& info) {
                    std::lock_guard guard(lock_);
                    infos_.push_back(info);
                    changed_.notify_all();
                },
                [this](const app::QueueDamage& damage) {
                    std::lock_guard guard(lock_);
                    damage_.push_back(damage);
                    changed_.notify_all();
                },
                [this](const app::SendFailure& failure) {
                    std::lock_guard guard(lock_);
                    failures_.push_back(failure);
                    changed_.notify_all();
                },
                [this](const std::vector<store::StatusReport>& kept) {
                    std::lock_guard guard(lock_);
                    reports_ += kept.size();
                    changed_.notify_all();
                },
                [this](modem::Reception mode) {
                    std::lock_guard guard(lock_);
                    receptions_.push_back(mode);
                    changed_.notify_all();
                },
                {}};
    }

    // Waits until `done` holds (looked at on every report), at most `limit`.
    bool WaitUntil(const std::function<bool()>& done,
                   std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock held(lock_);
        return changed_.wait_for(held, limit, done);
    }
    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::size_t Count(std::uint64_t id, app::SendOutcome outcome) const {
        std::size_t n = 0;
        for (const auto& entry : sends_) n += entry.id == id && entry.outcome == outcome;
        return n;
    }
    std::size_t CountAll(app::SendOutcome outcome) const {
        std::size_t n = 0;
        for (const auto& entry : sends_) n += entry.outcome == outcome;
        return n;
    }
    std::vector<Entry> Sends() {
        std::lock_guard guard(lock_);
        return sends_;
    }
    std::size_t ReceivedCount() const { return received_.size(); }
    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::size_t ReportCount() const { return reports_; }
    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::vector<modem::ModemStatus> States() const { return states_; }
    bool WasTold(modem::ModemState state) const {
        for (const auto& status : states_)
            if (status.state == state) return true;
        return false;
    }
    std::vector<modem::ModemInfo> Infos() const { return infos_; }
    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::vector<modem::Reception> Receptions() const { return receptions_; }
    std::vector<packet> Received() const { return received_; }
    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::size_t StoreFailureCount() const { return store_failures_.size(); }
    std::vector<app::StoreFile> StoreFailures() {
        std::lock_guard guard(lock_);
        return store_failures_;
    }

    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.
    std::vector<app::SendFailure> Failures() const { return failures_; }

    std::vector<app::QueueDamage> Damage() {
        std::lock_guard guard(lock_);
        return damage_;
    }

    // REQUIRES: called inside a WaitUntil condition, or after the worker ended.

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Entry> sends_;                    // guarded by lock_
    std::vector<packet> received_;                // guarded by lock_
    std::vector<modem::Reception> receptions_;    // guarded by lock_
    std::vector<app::StoreFile> store_failures_;  // guarded by lock_
    std::vector<modem::ModemStatus> states_;      // guarded by lock_
    std::vector<modem::ModemInfo> infos_;         // guarded by lock_
    std::vector<app::QueueDamage> damage_;        // guarded by lock_
    std::vector<app::SendFailure> failures_;      // guarded by lock_
    std::size_t reports_ = 0;                     // guarded by lock_
};

}  // namespace velka::testing
