// Code the clang build must refuse. Each line marked "expect-warning" breaks one rule
// of the locks (platform/mutex.h); expect_thread_safety_warnings.cmake compiles this
// file with -Wthread-safety and passes only when clang reports every marked line and
// no other, so a change that quietly switches the analysis off (an attribute macro
// defined empty, a lock type without attributes) fails the clang build's tests.
#include "platform/mutex.h"

namespace velka {

class Account {
  public:
    void WriteWithoutTheLock() {
        balance_ = 1;  // expect-warning
    }
    int ReadWithoutTheLock() {
        return balance_;  // expect-warning
    }
    void CallWithoutTheLock() {
        Add(1);  // expect-warning
    }
    void CallWhileHoldingTheLock() {
        MutexLock held(lock_);
        Deposit(1);  // expect-warning
    }
    void WaitWithAPredicateNotMarkedAsHoldingTheLock() {
        MutexLock held(lock_);
        changed_.wait(lock_, [this] {
            return balance_ > 0;  // expect-warning
        });
    }
    void WriteAfterUnlocking() {
        MutexLock held(lock_);
        held.unlock();
        balance_ = 2;  // expect-warning
    }
    void WaitWithoutTheLock() {
        changed_.wait(lock_, [] { return true; });  // expect-warning
    }

    // The right ways, which must pass.
    void Write() {
        MutexLock held(lock_);
        Add(1);
    }
    void WaitForMoney() {
        MutexLock held(lock_);
        changed_.wait(lock_, [this]() REQUIRES(lock_) { return balance_ > 0; });
    }
    void Deposit(int n) EXCLUDES(lock_) {
        {
            MutexLock held(lock_);
            balance_ += n;
        }
        changed_.notify_all();
    }

  private:
    void Add(int n) REQUIRES(lock_) { balance_ += n; }

    Mutex lock_;
    ConditionVariable changed_;
    int balance_ GUARDED_BY(lock_) = 0;
};

}  // namespace velka
