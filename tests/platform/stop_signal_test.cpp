#include "platform/stop_signal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/wait.h"

namespace velka {
namespace {

// A wait of the kind the serial component and the worker make: its own mutex and
// condition variable, no deadline, ended only by the stop.
bool SleepUntilStopped(const StopSignal& stop, Mutex& mutex, ConditionVariable& wake) {
    const StopSignal::Wake registered(&stop, mutex, wake);
    MutexLock guard(mutex);
    return WaitUntil(wake, mutex, kNever, [&] { return stop.IsSet(); });
}

TEST(StopSignal, SettingItWakesEveryRegisteredWait) {
    StopSignal stop;
    Mutex first_lock, second_lock;
    ConditionVariable first_wake, second_wake;
    std::thread first([&] { EXPECT_TRUE(SleepUntilStopped(stop, first_lock, first_wake)); });
    std::thread second([&] { EXPECT_TRUE(SleepUntilStopped(stop, second_lock, second_wake)); });
    while (stop.Sleepers() < 2) std::this_thread::yield();  // both are registered
    stop.Set();
    first.join();
    second.join();
    EXPECT_EQ(stop.Sleepers(), 0u);
}

TEST(StopSignal, AWaitAfterTheStopDoesNotSleep) {
    StopSignal stop;
    stop.Set();
    Mutex lock;
    ConditionVariable wake;
    EXPECT_TRUE(SleepUntilStopped(stop, lock, wake));
    const std::atomic<bool>& flag = stop;  // as the code that only looks reads it
    EXPECT_TRUE(flag.load());
}

TEST(StopSignal, ANullSignalRegistersNothing) {
    Mutex lock;
    ConditionVariable wake;
    const StopSignal::Wake none(nullptr, lock, wake);
    MutexLock guard(lock);
    const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
    EXPECT_FALSE(WaitUntil(wake, lock, soon, [] { return false; }));
}

}  // namespace
}  // namespace velka
