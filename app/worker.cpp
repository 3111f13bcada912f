#include "app/worker.h"

#include <algorithm>
#include <utility>

#include "modem/dialogue.h"
#include "modem/receive.h"
#include "modem/send.h"
#include "platform/codepage.h"
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
            MutexLock guard(queue_.lock());
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
    if (!OpenModem()) {
        AfterModemWork();
        Pause(RecoveryPause(), false);
        return;
    }
    std::optional<QueuedRecord> item;
    {
        MutexLock guard(queue_.lock());
        item = queue_.TakeDue(Clock::now());
    }
    // A record taken after the close was asked for is neither sent nor stored.
    if (!item || stop_.load()) return;
    Deliver(std::move(*item));
    StoreDirect();
    AfterModemWork();
}

void Worker::Deliver(QueuedRecord item) {
    switch (modem::SendText(port_, item.record, stop_, registry_, &modem_)) {
        case modem::SendResult::Sent:
            Record(StoreFile::Outbox, outbox_backlog_, item.record);
            Notify(item.id, SendOutcome::Sent);
            return;
        case modem::SendResult::Unsendable:
            Record(StoreFile::Unsent, unsent_backlog_, item.record);
            Notify(item.id, SendOutcome::Unsendable);
            return;
        case modem::SendResult::Failed:
            break;
    }
    ++item.attempts;
    item.due = Clock::now() + RetryPause(item.attempts);
    const std::uint64_t id = item.id;
    {
        MutexLock guard(queue_.lock());
        queue_.PutBack(std::move(item));
    }
    Notify(id, SendOutcome::Failed);
}

void Worker::Record(StoreFile file, std::vector<packet>& backlog, const packet& record) {
    backlog.push_back(record);
    WriteBacklog(file, backlog);
}

void Worker::WriteBacklogs() {
    WriteBacklog(StoreFile::Outbox, outbox_backlog_);
    WriteBacklog(StoreFile::Unsent, unsent_backlog_);
}

void Worker::WriteBacklog(StoreFile file, std::vector<packet>& backlog) {
    if (backlog.empty()) return;
    Status written;
    {
        MutexLock guard(queue_.lock());
        written = store::Append(file == StoreFile::Outbox ? files_.outbox : files_.unsent, backlog);
    }
    if (written) backlog.clear();
    Written(file, written);
}

void Worker::Written(StoreFile file, const Status& status) {
    bool& failing = failing_[static_cast<std::size_t>(file)];
    if (status) {
        failing = false;
    } else if (!failing) {
        failing = true;
        if (events_.on_store_failed) events_.on_store_failed(file, status.error());
    }
}

void Worker::IdlePass() {
    WriteBacklogs();
    if (reception_.load() && OpenModem()) {
        // Deliveries read before the listing go first: they are the older messages.
        StoreDirect();
        const auto report =
            modem::ReceiveAll(port_, files_.inbox, queue_.lock(), stop_, undeleted_, modem_);
        // An empty listing's append proves the file writable, but its failure costs
        // no message and is not worth a warning.
        if (report.listed && (report.saved || report.unsaved > 0)) {
            Written(StoreFile::Inbox, report.saved);
        }
        if (!report.stored.empty() && events_.on_received) events_.on_received(report.stored);
        StoreDirect();
        AfterModemWork();
        Pause(kAfterReceptionPause, true);
    } else if (reception_.load()) {
        AfterModemWork();
    }
    Pause(RecoveryPause(), true);
}

void Worker::SetPin(std::string pin) {
    MutexLock guard(pin_lock_);
    new_pin_ = std::move(pin);
}

bool Worker::OpenModem() {
    {
        MutexLock guard(pin_lock_);
        if (new_pin_) modem_.pin = std::exchange(new_pin_, std::nullopt);
    }
    const bool ready = modem::InitModem(port_, stop_, &modem_);
    TellModemState();
    return ready;
}

void Worker::StoreDirect() {
    const auto report = modem::StoreDeliveries(port_, files_.inbox, queue_.lock(), stop_, modem_);
    if (report.listed) Written(StoreFile::Inbox, report.saved);
    if (!report.stored.empty() && events_.on_received) events_.on_received(report.stored);
}

void Worker::AfterModemWork() {
    if (stop_.load()) return;
    if (std::exchange(modem_.silent, false)) {
        modem::ClosePort(port_);
        ++silences_;
    } else if (std::exchange(modem_.answered, false)) {
        silences_ = 0;
    }
    modem_.answered = false;
    TellModemState();
}

Clock::duration Worker::RecoveryPause() const {
    if (silences_ == 0) return kIdlePause;
    const int doublings = std::min(silences_ - 1, 8);
    return std::min<Clock::duration>(kIdlePause * (1 << doublings), kLongestSilencePause);
}

void Worker::TellModemState() {
    modem::ModemStatus status = modem_.status;
    if (silences_ >= kSilencesBeforeTelling) status = {modem::ModemState::NotAnswering};
    if (status.state != modem::ModemState::Unknown && status != told_status_) {
        told_status_ = status;
        if (events_.on_modem_state) events_.on_modem_state(status);
    }
    if (modem_.info != told_info_ && modem_.info != modem::ModemInfo{}) {
        told_info_ = modem_.info;
        if (events_.on_modem_info) events_.on_modem_info(told_info_);
    }
}

std::string ModemStateText(const modem::ModemStatus& status) {
    using modem::ModemState;
    std::string text;
    switch (status.state) {
        case ModemState::Unknown:
        case ModemState::Ready:
            return {};
        case ModemState::NotAnswering:
            return codepage::FromUtf8(
                "Модем не отвечает. Программа переоткрывает порт и пробует снова; сообщения "
                "ждут в очереди.");
        case ModemState::PinNeeded:
            text = "SIM-карта модема запрашивает PIN-код.";
            break;
        case ModemState::PinRefused:
            text = "Неверный PIN-код.";
            break;
        case ModemState::PukNeeded:
            text = "SIM-карта заблокирована: нужен PUK-код. Разблокируйте её в телефоне.";
            break;
        case ModemState::PhoneLocked:
            text = "Модем привязан к другой SIM-карте и запрашивает код PH-SIM PIN.";
            break;
        case ModemState::NoSim:
            text = "В модеме нет SIM-карты.";
            break;
        case ModemState::SimFailure:
            text = "SIM-карта модема неисправна или не читается.";
            break;
    }
    if (status.tries_left >= 0)
        text += " Осталось попыток: " + std::to_string(status.tries_left) + ".";
    text += " Сообщения не отправляются и не принимаются; модем будет опрошен снова.";
    return codepage::FromUtf8(text);
}

void Worker::Pause(Clock::duration length, bool for_records) {
    const auto deadline = Clock::now() + length;
    MutexLock held(queue_.lock());
    while (!stop_.load() && Clock::now() < deadline) {
        if (for_records && queue_.HasDue(Clock::now())) return;
        auto until = deadline;
        if (for_records) {
            if (const auto next = queue_.NextDue(); next && *next < until) until = *next;
        }
        queue_.SleepUntil(until, [&]() REQUIRES(queue_.lock()) {
            return stop_.load() || (for_records && queue_.HasDue(Clock::now()));
        });
    }
}

StoreFailureText StoreFailureWarning(StoreFile file) {
    constexpr const char* kWrittenLater = "Запись будет сделана, как только диск её примет.";
    switch (file) {
        case StoreFile::Inbox:
            return {codepage::FromUtf8("Не удалось сохранить принятые сообщения."),
                    codepage::FromUtf8("Они остаются в модеме и будут сохранены, как только "
                                       "запись станет возможна.")};
        case StoreFile::Outbox:
            return {codepage::FromUtf8(
                        "Не удалось записать отправленное сообщение в список отправленных."),
                    codepage::FromUtf8(kWrittenLater)};
        case StoreFile::Unsent:
            return {codepage::FromUtf8("Не удалось записать сообщение, которое нельзя отправить."),
                    codepage::FromUtf8(kWrittenLater)};
    }
    return {};
}

void Worker::Notify(std::uint64_t id, SendOutcome outcome) const {
    if (events_.on_send) events_.on_send(id, outcome);
}

}  // namespace velka::app
