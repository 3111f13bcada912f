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
        std::lock_guard guard(lock_);
        bytes_queued_ += DataUnread(*buffer);
        entries_.push_back(std::move(buffer));
    }
    not_empty_.notify_all();
}

TIOBuffer* TIOQueue::Peek() {
    std::lock_guard guard(lock_);
    if (entries_.empty() || entries_.front()->InUse) return nullptr;
    entries_.front()->InUse = true;
    return entries_.front().get();
}

void TIOQueue::Pop() {
    std::lock_guard guard(lock_);
    if (entries_.empty()) return;
    bytes_queued_ -= DataUnread(*entries_.front());
    entries_.pop_front();
}

void TIOQueue::Clear() {
    std::lock_guard guard(lock_);
    std::erase_if(entries_, [](const std::unique_ptr<TIOBuffer>& entry) { return !entry->InUse; });
    bytes_queued_ = 0;
    for (const auto& entry : entries_) bytes_queued_ += DataUnread(*entry);
}

bool TIOQueue::WaitForBuffer(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock guard(lock_);
    WaitUntil(not_empty_, guard, deadline, [this] { return !entries_.empty() || woken_; });
    woken_ = false;
    return !entries_.empty();
}

void TIOQueue::WaitForWake(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock guard(lock_);
    WaitUntil(not_empty_, guard, deadline, [this] { return woken_; });
    woken_ = false;
}

void TIOQueue::Wake() {
    {
        std::lock_guard guard(lock_);
        woken_ = true;
    }
    not_empty_.notify_all();
}

int TIOQueue::FirstDataUnread() {
    std::lock_guard guard(lock_);
    return entries_.empty() ? 0 : DataUnread(*entries_.front());
}

int TIOQueue::ReadData(std::uint8_t* destination, int n) {
    std::lock_guard guard(lock_);
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
    std::lock_guard guard(lock_);
    if (entries_.empty()) return 0;
    const auto* status = dynamic_cast<const TStatusBuffer*>(entries_.front().get());
    if (!status) return 0;
    const std::uint32_t mask = status->Mask;
    entries_.pop_front();
    return mask;
}

std::int64_t TIOQueue::BytesQueued() {
    std::lock_guard guard(lock_);
    return bytes_queued_;
}

bool TIOQueue::Empty() {
    std::lock_guard guard(lock_);
    return entries_.empty();
}

}  // namespace velka
