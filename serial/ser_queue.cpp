#include "serial/ser_queue.h"

#include <algorithm>
#include <cstring>

#include "platform/wait.h"

namespace velka {

namespace {

int DataUnread(const TIOBuffer& buffer) {
    const auto* data = dynamic_cast<const TDataBuffer*>(&buffer);
    return data ? data->Unread() : 0;
}

}  // namespace

void TIOQueue::Push(std::unique_ptr<TIOBuffer> buffer) {
    {
        MutexLock guard(lock_);
        bytes_queued_ += DataUnread(*buffer);
        entries_.push_back(std::move(buffer));
    }
    not_empty_.notify_all();
}

TIOBuffer* TIOQueue::Peek() {
    MutexLock guard(lock_);
    if (entries_.empty() || entries_.front()->InUse) return nullptr;
    entries_.front()->InUse = true;
    return entries_.front().get();
}

void TIOQueue::Pop() {
    MutexLock guard(lock_);
    if (entries_.empty()) return;
    bytes_queued_ -= DataUnread(*entries_.front());
    entries_.pop_front();
}

void TIOQueue::Clear() {
    MutexLock guard(lock_);
    std::erase_if(entries_, [](const std::unique_ptr<TIOBuffer>& entry) { return !entry->InUse; });
    bytes_queued_ = 0;
    for (const auto& entry : entries_) bytes_queued_ += DataUnread(*entry);
}

bool TIOQueue::WaitForBuffer(std::chrono::steady_clock::time_point deadline) {
    MutexLock guard(lock_);
    WaitUntil(not_empty_, lock_, deadline,
              [this]() REQUIRES(lock_) { return !entries_.empty() || woken_; });
    woken_ = false;
    return !entries_.empty();
}

void TIOQueue::WaitForWake(std::chrono::steady_clock::time_point deadline) {
    MutexLock guard(lock_);
    WaitUntil(not_empty_, lock_, deadline, [this]() REQUIRES(lock_) { return woken_; });
    woken_ = false;
}

void TIOQueue::Wake() {
    {
        MutexLock guard(lock_);
        woken_ = true;
    }
    not_empty_.notify_all();
}

int TIOQueue::FirstDataUnread() {
    MutexLock guard(lock_);
    return entries_.empty() ? 0 : DataUnread(*entries_.front());
}

int TIOQueue::ReadData(std::uint8_t* destination, int n) {
    MutexLock guard(lock_);
    int copied = 0;
    while (copied < n && !entries_.empty()) {
        auto* block = dynamic_cast<TDataBuffer*>(entries_.front().get());
        if (!block) break;
        const int piece = std::min(n - copied, block->Unread());
        std::memcpy(destination + copied, block->Data.data() + block->Read,
                    static_cast<std::size_t>(piece));
        block->Read += piece;
        copied += piece;
        bytes_queued_ -= piece;
        if (block->Unread() == 0) entries_.pop_front();
    }
    return copied;
}

std::uint32_t TIOQueue::TakeStatus() {
    MutexLock guard(lock_);
    if (entries_.empty()) return 0;
    const auto* status = dynamic_cast<const TStatusBuffer*>(entries_.front().get());
    if (!status) return 0;
    const std::uint32_t mask = status->Mask;
    entries_.pop_front();
    return mask;
}

std::int64_t TIOQueue::BytesQueued() {
    MutexLock guard(lock_);
    return bytes_queued_;
}

bool TIOQueue::Empty() {
    MutexLock guard(lock_);
    return entries_.empty();
}

}  // namespace velka
