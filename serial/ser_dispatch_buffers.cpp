#include <algorithm>
#include <cstring>

#include "platform/wait.h"
#include "serial/ser_dispatch.h"
#include "serial/ser_except.h"

namespace velka {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kFlushAckLimit{5000};
// A full dispatch buffer wakes the dispatch thread again only when a block of this
// size fits: waking it for every byte taken would cost a thread switch per byte.
constexpr int kRoomWakeLevel = 1024;

}  // namespace

// --- The dispatch buffer ---

// REQUIRES: data_lock_ held.
int TBaseDispatcher::BufferUsedLocked() const {
    if (dfull_) return kDispatchBufferSize;
    return (dtail_ - dhead_ + kDispatchBufferSize) % kDispatchBufferSize;
}

// REQUIRES: data_lock_ held. The bytes GetChar can still hand out.
int TBaseDispatcher::AvailableLocked() const {
    if (ClosedForIO()) return 0;
    return BufferUsedLocked() - (in_notification_ ? notify_read_ : 0);
}

// REQUIRES: data_lock_ held.
bool TBaseDispatcher::CharReadyLocked() const {
    return AvailableLocked() > 0;
}

bool TBaseDispatcher::CharReady() {
    MutexLock guard(data_lock_);
    return CharReadyLocked();
}

int TBaseDispatcher::GetChar(std::uint8_t& c) {
    MutexLock guard(data_lock_);
    if (ClosedForIO()) return ecCommNotOpen;
    if (!CharReadyLocked()) return ecBufferIsEmpty;
    if (in_notification_) {
        c = dbuffer_[static_cast<std::size_t>((dhead_ + notify_read_) % kDispatchBufferSize)];
        ++notify_read_;
        return ecOK;
    }
    c = dbuffer_[static_cast<std::size_t>(dhead_)];
    dhead_ = (dhead_ + 1) % kDispatchBufferSize;
    dfull_ = false;
    RoomMadeLocked();
    return ecOK;
}

// REQUIRES: data_lock_ held. Wakes a dispatch thread that waits for room in a
// full buffer, once a block fits, or at any room when asked.
void TBaseDispatcher::RoomMadeLocked(bool any_room) {
    const int free = kDispatchBufferSize - BufferUsedLocked();
    if (room_wanted_ && free >= (any_room ? 1 : kRoomWakeLevel)) {
        room_wanted_ = false;
        io_queue_.Wake();
    }
}

int TBaseDispatcher::InBuffUsed() {
    MutexLock guard(data_lock_);
    return ClosedForIO() ? 0 : BufferUsedLocked();
}

int TBaseDispatcher::InBuffFree() {
    return kDispatchBufferSize - InBuffUsed();
}

bool TBaseDispatcher::WaitForData(std::chrono::steady_clock::time_point deadline,
                                  const StopSignal* stop, int count, const StopSignal* wake) {
    const int wanted = std::max(count, 1);
    // Made before the data lock is taken: a signal takes its own lock, then ours.
    const StopSignal::Wake stop_wakes(stop, data_lock_, data_ready_);
    const StopSignal::Wake other_wakes(wake, data_lock_, data_ready_);
    MutexLock guard(data_lock_);
    WaitUntil(data_ready_, data_lock_, deadline, [&]() REQUIRES(data_lock_) {
        if (AvailableLocked() >= wanted || ClosedForIO() || (stop && stop->IsSet()) ||
            (wake && wake->IsSet()))
            return true;
        // A wait for more than a full buffer holds needs the queued bytes behind
        // it now, not once a whole block fits.
        RoomMadeLocked(/*any_room=*/true);
        return false;
    });
    return AvailableLocked() >= wanted;
}

int TBaseDispatcher::FlushInBuffer() {
    {
        MutexLock guard(data_lock_);
        if (ClosedForIO()) return ecCommNotOpen;
        FlushCom(1);
        if (in_notification_) {
            notify_read_ = BufferUsedLocked();
        } else {
            dhead_ = dtail_;
            dfull_ = false;
        }
        RoomMadeLocked();
    }
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.DataTriggers) trigger.Matched = 0;
    return ecOK;
}

int TBaseDispatcher::FlushOutBuffer() {
    if (ClosedForIO()) return ecCommNotOpen;
    return FlushCom(0) < 0 ? ecPutBlockFail : ecOK;
}

// --- The output ring ---

int TBaseDispatcher::PutBlock(const std::uint8_t* bytes, int n) {
    if (n == 0) return ecOK;
    if (ClosedForIO()) return ecCommNotOpen;
    // Only the write thread takes from the ring, so the room found here stays.
    if (n > OutBuffFree()) return ecOutputBufferTooSmall;
    if (WriteCom(bytes, n) <= 0) {
        TComStat status;
        GetComError(status);
        return ecPutBlockFail;
    }
    return ecOK;
}

int TBaseDispatcher::OutBuffUsed() {
    return ClosedForIO() ? 0 : OutBufUsed();
}
int TBaseDispatcher::OutBuffFree() {
    return out_size_ - OutBuffUsed();
}

int TBaseDispatcher::WriteCom(const std::uint8_t* buffer, int n) {
    {
        MutexLock guard(output_lock_);
        const int size = static_cast<int>(obuffer_.size());
        const int first = std::min(n, size - ohead_);
        std::memcpy(obuffer_.data() + ohead_, buffer, static_cast<std::size_t>(first));
        std::memcpy(obuffer_.data(), buffer + first, static_cast<std::size_t>(n - first));
        ohead_ = (ohead_ + n) % size;
        if (ohead_ == otail_) ofull_ = true;
    }
    output_changed_.notify_all();
    OutputChanged();
    return n;
}

int TBaseDispatcher::OutBufUsed() {
    MutexLock guard(output_lock_);
    const int size = static_cast<int>(obuffer_.size());
    if (ofull_) return size;
    return ohead_ - otail_ + (ohead_ < otail_ ? size : 0);
}

bool TBaseDispatcher::TakeOutput(std::vector<std::uint8_t>& block) {
    MutexLock guard(output_lock_);
    output_changed_.wait(output_lock_, [this]() REQUIRES(output_lock_) {
        return kill_ || flush_acked_ < flush_requested_ || ofull_ || ohead_ != otail_;
    });
    if (kill_) return false;
    block.clear();
    if (flush_acked_ < flush_requested_) {
        flush_acked_ = flush_requested_;
    } else {
        const auto start = obuffer_.begin();
        if (ohead_ > otail_) {
            block.assign(start + otail_, start + ohead_);
        } else {
            block.assign(start + otail_, obuffer_.end());
            block.insert(block.end(), start, start + ohead_);
        }
        ohead_ = otail_ = 0;
        ofull_ = false;
        writing_ = !block.empty();
    }
    guard.unlock();
    output_changed_.notify_all();
    OutputChanged();
    return true;
}

bool TBaseDispatcher::FlushRequested() {
    MutexLock guard(output_lock_);
    return flush_acked_ < flush_requested_;
}

void TBaseDispatcher::OutputWritten() {
    {
        MutexLock guard(output_lock_);
        writing_ = false;
    }
    output_changed_.notify_all();
    OutputChanged();
}

void TBaseDispatcher::OutputChanged() {
    if (output_watched_) io_queue_.Wake();
}

void TBaseDispatcher::AbandonOutput(bool writer_running) {
    MutexLock guard(output_lock_);
    ohead_ = otail_ = 0;
    ofull_ = false;
    if (!writer_running) return;
    const std::uint64_t request = ++flush_requested_;
    output_changed_.notify_all();
    output_changed_.wait_for(output_lock_, kFlushAckLimit, [&]() REQUIRES(output_lock_) {
        return kill_ || flush_acked_ >= request;
    });
}

bool TBaseDispatcher::WaitForOutputRoom(int n, std::chrono::steady_clock::time_point deadline) {
    MutexLock guard(output_lock_);
    const auto room = [&]() REQUIRES(output_lock_) {
        if (kill_ || ClosedForIO()) return true;
        const int size = static_cast<int>(obuffer_.size());
        const int used = ofull_ ? size : ohead_ - otail_ + (ohead_ < otail_ ? size : 0);
        return size - used >= n;
    };
    return output_changed_.wait_until(output_lock_, deadline, room) && !kill_ && !ClosedForIO();
}

int TBaseDispatcher::ProbeDevice(const std::string& device_name) {
    if (OpenCom(device_name, in_size_, out_size_) < 0) {
        const int error = last_system_error_;
        return error > 0 ? -error : ecBadHandle;
    }
    CloseCom();
    return ecOK;
}

int TBaseDispatcher::ReadCom(std::uint8_t* buffer, int n) {
    return io_queue_.ReadData(buffer, n);
}

int TBaseDispatcher::InQueueUsed() {
    return io_queue_.FirstDataUnread();
}

}  // namespace velka
