// What the harnesses that run the worker share: the records it sent, to wait on,
// and the process's processor time.
#pragma once

#include <sys/resource.h>

#include <condition_variable>
#include <mutex>

#include "app/worker.h"

namespace velka::bench {

// Seconds of processor time this process has used, user and system.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Counts the records the workers report sent.
class SentCount {
  public:
    // Events for AppCore::Start; the count must outlive the workers.
    app::WorkerEvents Events() {
        app::WorkerEvents events;
        events.on_send = [this](std::uint64_t, app::SendOutcome outcome) {
            std::lock_guard guard(lock_);
            sent_ += outcome == app::SendOutcome::Sent;
            done_.notify_all();
        };
        return events;
    }
    void WaitFor(int records) {
        std::unique_lock held(lock_);
        done_.wait(held, [&] { return sent_ >= records; });
    }

  private:
    std::mutex lock_;
    std::condition_variable done_;
    int sent_ = 0;  // guarded by lock_
};

}  // namespace velka::bench
