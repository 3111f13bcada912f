#include <gtest/gtest.h>

#include <thread>

#include "platform/wait.h"
#include "serial/ser_queue.h"

namespace velka {
namespace {

std::unique_ptr<TDataBuffer> Block(const std::string& bytes) {
    auto block = std::make_unique<TDataBuffer>();
    std::copy(bytes.begin(), bytes.end(), block->Data.begin());
    block->Filled = static_cast<int>(bytes.size());
    return block;
}

std::string Read(TIOQueue& queue, int n) {
    std::string out(static_cast<std::size_t>(n), '\0');
    const int got = queue.ReadData(reinterpret_cast<std::uint8_t*>(out.data()), n);
    out.resize(static_cast<std::size_t>(got));
    return out;
}

TEST(IOQueue, ReadsAcrossDataBlocksAndStopsAtAStatusEntry) {
    TIOQueue queue;
    queue.Push(Block("abc"));
    queue.Push(Block("defg"));
    queue.Push(std::make_unique<TStatusBuffer>(evCts));
    queue.Push(Block("hi"));
    EXPECT_EQ(queue.BytesQueued(), 9);
    EXPECT_EQ(queue.FirstDataUnread(), 3);
    EXPECT_EQ(Read(queue, 2), "ab");
    EXPECT_EQ(queue.FirstDataUnread(), 1);
    EXPECT_EQ(Read(queue, 100), "cdefg");
    EXPECT_EQ(queue.FirstDataUnread(), 0);  // a status entry leads now
    EXPECT_EQ(Read(queue, 100), "");
    EXPECT_EQ(queue.TakeStatus(), evCts);
    EXPECT_EQ(queue.TakeStatus(), 0u);  // data leads: nothing taken
    EXPECT_EQ(Read(queue, 100), "hi");
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(queue.BytesQueued(), 0);
}

TEST(IOQueue, ClearKeepsTheEntryInUse) {
    TIOQueue queue;
    queue.Push(Block("abc"));
    queue.Push(Block("def"));
    TIOBuffer* first = queue.Peek();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(queue.Peek(), nullptr);  // already in use
    queue.Clear();
    EXPECT_FALSE(queue.Empty());
    EXPECT_EQ(queue.BytesQueued(), 3);
    queue.Pop();
    EXPECT_TRUE(queue.Empty());
}

TEST(IOQueue, WaitForBufferWakesOnPushAndTimesOutWhenEmpty) {
    TIOQueue queue;
    using Clock = std::chrono::steady_clock;
    EXPECT_FALSE(queue.WaitForBuffer(Clock::now() + std::chrono::milliseconds(1)));
    std::thread pusher([&] { queue.Push(Block("x")); });
    EXPECT_TRUE(queue.WaitForBuffer(kNever));
    pusher.join();
}

// The dispatch thread sleeps this way while its buffer is full: the entries it
// cannot take must not wake it, and a wake-up that came before it slept is kept.
TEST(IOQueue, WaitForWakeIgnoresEntriesAndKeepsAWakeThatCameEarly) {
    using Clock = std::chrono::steady_clock;
    TIOQueue queue;
    queue.Push(Block("x"));
    const auto deadline = Clock::now() + std::chrono::milliseconds(20);
    queue.WaitForWake(deadline);
    EXPECT_GE(Clock::now(), deadline);

    queue.Wake();
    const auto started = Clock::now();
    queue.WaitForWake(started + std::chrono::seconds(30));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace velka
