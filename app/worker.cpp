#include "app/worker.h"

#include "modem/dialogue.h"
#include "modem/receive.h"
#include "modem/send.h"
#include "platform/registry.h"
#include "serial/ser_except.h"
#include "store/store_file.h"

namespace velka::app {

Worker::Worker(TComPort& port, OutgoingQueue& queue, const std::atomic<bool>& stop,
               const std::atomic<bool>& reception, WorkerFiles files, Registry& registry,
               WorkerEvents events)
    : port_(port),
      queue_(queue),
      stop_(stop),
      reception_(reception),
      files_(std::move(files)),
      registry_(registry),
      events_(std::move(events)) {}

Worker::~Worker() {
    Join();
}

void Worker::Start() {
    thread_ = std::thread([this] { Run(); });
}

void Worker::Join() {
    if (thread_.joinable()) thread_.join();
}

void Worker::Run() {
    while (!stop_.load()) {
        bool due = false;
        {
            std::lock_guard guard(queue_.lock());
            due = queue_.HasDue(Clock::now());
        }
        if (due) {
            SendPass();
        } else {
            IdlePass();
        }
    }
    WriteBacklogs();
    try {
        port_.SetOpen(false);
    } catch (const ESerialException&) {
        // The device is gone already; nothing is left to close.
    }
}

// The initialisation runs without the queue lock, so that queuing and the box
// views never wait for a modem that is slow to answer.
void Worker::SendPass() {
    if (!modem::InitModem(port_, stop_)) {
        Pause(kIdlePause, false);
        return;
    }
    std::optional<QueuedRecord> item;
    {
        std::lock_guard guard(queue_.lock());
        item = queue_.TakeDue(Clock::now());
    }
    // A record taken after the close was asked for is neither sent nor stored.
    if (!item || stop_.load()) return;
    Deliver(std::move(*item));
}

void Worker::Deliver(QueuedRecord item) {
    switch (modem::SendText(port_, item.record, stop_, registry_)) {
        case modem::SendResult::Sent:
            Record(files_.outbox, outbox_backlog_, item.record);
            Notify(item.id, SendOutcome::Sent);
            return;
        case modem::SendResult::Unsendable:
            Record(files_.unsent, unsent_backlog_, item.record);
            Notify(item.id, SendOutcome::Unsendable);
            return;
        case modem::SendResult::Failed:
            break;
    }
    ++item.attempts;
    item.due = Clock::now() + RetryPause(item.attempts);
    const std::uint64_t id = item.id;
    {
        std::lock_guard guard(queue_.lock());
        queue_.PutBack(std::move(item));
    }
    Notify(id, SendOutcome::Failed);
}

void Worker::Record(const std::string& path, std::vector<packet>& backlog, const packet& record) {
    backlog.push_back(record);
    WriteBacklog(path, backlog);
}

void Worker::WriteBacklogs() {
    WriteBacklog(files_.outbox, outbox_backlog_);
    WriteBacklog(files_.unsent, unsent_backlog_);
}

void Worker::WriteBacklog(const std::string& path, std::vector<packet>& backlog) {
    if (backlog.empty()) return;
    std::lock_guard guard(queue_.lock());
    if (store::Append(path, backlog)) backlog.clear();
}

void Worker::IdlePass() {
    WriteBacklogs();
    if (reception_.load() && modem::InitModem(port_, stop_)) {
        const auto report = modem::ReceiveMessages(port_, modem::kSimStorage, files_.inbox,
                                                   queue_.lock(), stop_, &undeleted_);
        if (!report.stored.empty() && events_.on_received) events_.on_received(report.stored);
        Pause(kAfterReceptionPause, true);
    }
    Pause(kIdlePause, true);
}

void Worker::Pause(Clock::duration length, bool for_records) {
    const auto deadline = Clock::now() + length;
    std::unique_lock held(queue_.lock());
    while (!stop_.load() && Clock::now() < deadline) {
        if (for_records && queue_.HasDue(Clock::now())) return;
        auto until = deadline;
        if (for_records) {
            if (const auto next = queue_.NextDue(); next && *next < until) until = *next;
        }
        queue_.SleepUntil(held, until, [&] {
            return stop_.load() || (for_records && queue_.HasDue(Clock::now()));
        });
    }
}

void Worker::Notify(std::uint64_t id, SendOutcome outcome) const {
    if (events_.on_send) events_.on_send(id, outcome);
}

}  // namespace velka::app
