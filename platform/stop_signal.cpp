#include "platform/stop_signal.h"

#include <algorithm>

namespace velka {

void StopSignal::Set() {
    flag_.store(true);
    MutexLock guard(lock_);
    for (Wake* wait : waits_) {
        // Taking the wait's mutex orders this wake-up after its look at the flag:
        // either it saw the flag set, or it is asleep and hears the notification.
        { MutexLock held(wait->mutex_); }
        wait->wake_.notify_all();
    }
}

std::size_t StopSignal::Sleepers() const {
    MutexLock guard(lock_);
    return waits_.size();
}

StopSignal::Wake::Wake(const StopSignal* signal, Mutex& mutex, ConditionVariable& wake)
    : signal_(signal), mutex_(mutex), wake_(wake) {
    if (!signal_) return;
    MutexLock guard(signal_->lock_);
    signal_->waits_.push_back(this);
}

StopSignal::Wake::~Wake() {
    if (!signal_) return;
    MutexLock guard(signal_->lock_);
    std::erase(signal_->waits_, this);
}

}  // namespace velka
