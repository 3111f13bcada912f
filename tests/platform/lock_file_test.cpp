#include "platform/lock_file.h"

#include <gtest/gtest.h>

#include <future>

#include "tests/support/temp_dir.h"

namespace velka {
namespace {

TEST(LockFile, ASecondTakerIsToldWhoHoldsTheLockAndGetsItOnceReleased) {
    testing::TempDir dir;
    const std::string path = dir.File("worker.lock");
    auto first = LockFile::TryAcquireNamed(path);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(std::holds_alternative<LockFile>(*first));

    const auto second = LockFile::TryAcquireNamed(path);
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(std::holds_alternative<LockHolder>(*second)) << "the lock is not shared";
    const LockHolder holder = std::get<LockHolder>(*second);
    EXPECT_EQ(holder.pid, ThisProcess().pid);
    EXPECT_EQ(holder.program, ThisProcess().program);
    EXPECT_FALSE(holder.program.empty());

    *first = LockHolder{};  // releases the lock
    const auto third = LockFile::TryAcquireNamed(path);
    ASSERT_TRUE(third.ok());
    EXPECT_TRUE(std::holds_alternative<LockFile>(*third));
}

TEST(LockFile, AcquireWaitsForTheHolderToLetGo) {
    testing::TempDir dir;
    const std::string path = dir.File("queue.db.lock");
    auto acquired = LockFile::Acquire(path);
    ASSERT_TRUE(acquired.ok());
    std::optional<LockFile> held(std::move(*acquired));
    auto waiter = std::async(std::launch::async, [&] { return LockFile::Acquire(path).ok(); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "taken while held";
    held.reset();
    EXPECT_TRUE(waiter.get());
}

TEST(LockFile, ALockFileInAMissingFolderIsAnErrorNotALock) {
    testing::TempDir dir;
    const auto attempt = LockFile::TryAcquireNamed(dir.File("no/such/worker.lock"));
    EXPECT_FALSE(attempt.ok());
}

TEST(LockFile, DescribeNamesTheProgramAndItsProcess) {
    EXPECT_EQ(Describe(LockHolder{1234, "velka-sms"}), "velka-sms (pid 1234)");
    EXPECT_EQ(Describe(LockHolder{}), "another program");
}

}  // namespace
}  // namespace velka
