#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "serial/ser_except.h"
#include "tests/serial/fake_device.h"

namespace velka {
namespace {

using testing::FakeDispatcher;
using Clock = std::chrono::steady_clock;

// Generous: a bound for a machine under load, never a measurement.
constexpr auto kPatience = std::chrono::seconds(20);

// Counts events from another thread; a test sleeps on it instead of polling.
class Counter {
  public:
    void Add() {
        {
            std::lock_guard guard(lock_);
            ++count_;
        }
        changed_.notify_all();
    }
    bool WaitFor(int n) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kPatience, [&] { return count_ >= n; });
    }
    int Count() {
        std::lock_guard guard(lock_);
        return count_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

class Dispatcher : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(port.InitPort("fake", 115200, pNone, 8, 1, 4096, 4096, 0x33), 0);
    }
    bool WaitForBytes(int count) {
        return port.WaitForData(Clock::now() + kPatience, nullptr, count);
    }
    std::string Take(int n) {
        std::string out;
        std::uint8_t c = 0;
        while (n-- > 0 && port.GetChar(c) == 0) out.push_back(static_cast<char>(c));
        return out;
    }

    // What trigger handlers record; declared before the port, so that they outlive
    // its dispatch thread.
    Counter handled, handled_too;
    std::string first_saw, second_saw;
    FakeDispatcher port;
};

TEST(DispatcherOpen, DeviceRefusalsComeBackAsNegatedSystemErrors) {
    FakeDispatcher missing;
    EXPECT_EQ(missing.InitPort("missing", 115200, pNone, 8, 1, 4096, 4096, 0), -2);
    EXPECT_FALSE(missing.Active());
    FakeDispatcher busy;
    EXPECT_EQ(busy.InitPort("busy", 115200, pNone, 8, 1, 4096, 4096, 0), -5);
}

TEST(DispatcherOpen, AFailingLineSettingClosesEverythingAgain) {
    FakeDispatcher port;
    EXPECT_EQ(port.InitPort("fake", 12345, pNone, 8, 1, 4096, 4096, 0), ecBaudRate);
    EXPECT_FALSE(port.device_open);
    EXPECT_FALSE(port.Active());
}

TEST_F(Dispatcher, OpensWithTheLineSettingsAndAutomaticLinesOfTheFlowWord) {
    const TDeviceControlBlock block = port.ControlBlock();
    EXPECT_EQ(block.BaudRate, 115200u);
    EXPECT_EQ(block.ByteSize, 8);
    EXPECT_EQ(block.Parity, pNone);
    EXPECT_EQ(block.StopBits, kOneStopBit);
    EXPECT_TRUE(block.Flags & TDeviceControlBlock::fBinary);
    // Both lines are automatic (0x30), so the explicit setters leave them alone.
    EXPECT_EQ(port.SetDtr(false), 1);
    EXPECT_EQ(port.SetRts(false), 1);
}

TEST_F(Dispatcher, SetLineTouchesTheDeviceOnlyForAChange) {
    const std::size_t applied = port.states_set.size();
    EXPECT_EQ(port.SetLine(0, 5, 9, 3), 0);
    EXPECT_EQ(port.SetLine(115200, pNone, 8, 1), 0);
    EXPECT_EQ(port.states_set.size(), applied);
    EXPECT_EQ(port.SetLine(9600, 5, 9, 3), 0);
    ASSERT_EQ(port.states_set.size(), applied + 1);
    EXPECT_EQ(port.states_set.back().BaudRate, 9600u);
    EXPECT_EQ(port.states_set.back().ByteSize, 8);  // kept
    EXPECT_EQ(port.SetLine(0, 5, 5, 2), 0);
    EXPECT_EQ(port.ControlBlock().StopBits, kOne5StopBits);
    EXPECT_EQ(port.SetLine(0, 5, 4, 3), ecByteSize);
}

TEST_F(Dispatcher, HardwareFlowSetsHandshakeAndReceiveLimits) {
    EXPECT_EQ(port.HWFlowOptions(3686, 409, kHWUseDtr | kHWUseRts), 0);
    const TDeviceControlBlock block = port.ControlBlock();
    EXPECT_EQ(block.XoffLim, 410);
    EXPECT_EQ(block.XonLim, 409);
    EXPECT_EQ(block.DtrControl(), kLineHandshake);
    EXPECT_EQ(block.RtsControl(), kLineHandshake);
    EXPECT_FALSE(block.Flags &
                 (TDeviceControlBlock::fOutxCtsFlow | TDeviceControlBlock::fOutxDsrFlow));

    const std::size_t applied = port.states_set.size();
    EXPECT_EQ(port.HWFlowOptions(409, 3686, 3), ecBadArgument);
    EXPECT_EQ(port.HWFlowOptions(5000, 409, 3), ecBadArgument);
    EXPECT_EQ(port.states_set.size(), applied);

    EXPECT_EQ(port.HWFlowOptions(3686, 409, kHWRequireCts), 0);
    EXPECT_EQ(port.ControlBlock().DtrControl(), kLineEnable);
    EXPECT_TRUE(port.ControlBlock().Flags & TDeviceControlBlock::fOutxCtsFlow);
    port.escapes.clear();
    EXPECT_EQ(port.SetDtr(false), 0);
    EXPECT_EQ(port.escapes, std::vector<int>{kClrDtr});
    EXPECT_EQ(port.ControlBlock().DtrControl(), kLineDisable);
}

TEST_F(Dispatcher, SoftwareFlowSetsXonXoffAndItsCharacters) {
    EXPECT_EQ(port.SWFlowEnable(3072, 1024, kSWReceive | kSWTransmit), 0);
    TDeviceControlBlock block = port.ControlBlock();
    EXPECT_TRUE(block.Flags & TDeviceControlBlock::fInX);
    EXPECT_TRUE(block.Flags & TDeviceControlBlock::fOutX);
    EXPECT_EQ(block.XoffLim, 1024);
    EXPECT_EQ(block.XonChar, 17);
    EXPECT_EQ(port.SWFlowChars('A', 'B'), 0);
    EXPECT_EQ(port.ControlBlock().XoffChar, 'B');
    EXPECT_EQ(port.SWFlowDisable(), 0);
    block = port.ControlBlock();
    EXPECT_FALSE(block.Flags & (TDeviceControlBlock::fInX | TDeviceControlBlock::fOutX));
}

TEST_F(Dispatcher, ReceivedBytesReachTheDispatchBufferInOrder) {
    std::uint8_t c = 0;
    EXPECT_FALSE(port.CharReady());
    EXPECT_EQ(port.GetChar(c), ecBufferIsEmpty);
    port.Receive("hello, ");
    port.Receive("world");
    ASSERT_TRUE(WaitForBytes(12));
    EXPECT_EQ(Take(100), "hello, world");
    EXPECT_EQ(port.GetChar(c), ecBufferIsEmpty);
    EXPECT_FALSE(port.CharReady());
}

TEST_F(Dispatcher, AFullDispatchBufferLeavesTheRestQueuedUntilRoomIsMade) {
    std::string sent;
    for (int i = 0; i < 9000; ++i) sent.push_back(static_cast<char>('a' + i % 26));
    port.Receive(sent);
    ASSERT_TRUE(WaitForBytes(kDispatchBufferSize));
    EXPECT_EQ(port.InBuffUsed(), kDispatchBufferSize);
    EXPECT_EQ(port.InBuffFree(), 0);
    EXPECT_EQ(port.QueuedBytes(), 9000 - kDispatchBufferSize);
    std::string got = Take(100);
    // The room made lets more in, and nothing is lost or reordered over the wrap.
    ASSERT_TRUE(WaitForBytes(kDispatchBufferSize));
    got += Take(kDispatchBufferSize);
    ASSERT_TRUE(WaitForBytes(9000 - kDispatchBufferSize - 100));
    got += Take(10000);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
}

TEST_F(Dispatcher, FlushInBufferDropsWaitingBytesAndLaterOnesArrive) {
    port.Receive("stale");
    ASSERT_TRUE(WaitForBytes(5));
    EXPECT_EQ(port.FlushInBuffer(), 0);
    EXPECT_FALSE(port.CharReady());
    port.Receive("fresh");
    ASSERT_TRUE(WaitForBytes(5));
    EXPECT_EQ(Take(10), "fresh");
}

TEST_F(Dispatcher, PutBlockTakesWholeBlocksOnly) {
    const std::string block(4000, 'x');
    EXPECT_EQ(port.PutBlock(reinterpret_cast<const std::uint8_t*>(block.data()), 4000), 0);
    const std::string rest(96, 'y');
    EXPECT_EQ(port.PutBlock(reinterpret_cast<const std::uint8_t*>(rest.data()), 97),
              ecOutputBufferTooSmall);
    EXPECT_EQ(port.OutBuffUsed(), 4000);
    // Exactly the free space fills the ring.
    EXPECT_EQ(port.PutBlock(reinterpret_cast<const std::uint8_t*>(rest.data()), 96), 0);
    EXPECT_EQ(port.OutBuffFree(), 0);
    const std::uint8_t one = 'z';
    EXPECT_EQ(port.PutBlock(&one, 1), ecOutputBufferTooSmall);
    EXPECT_EQ(port.TakeSent(), block + rest);
    EXPECT_EQ(port.PutBlock(&one, 1), 0);
    EXPECT_EQ(port.PutBlock(&one, 0), 0);
    EXPECT_EQ(port.TakeSent(), "z");
}

TEST_F(Dispatcher, OutputWrapsAroundTheRingInOrder) {
    const std::string first(3000, 'a');
    port.PutBlock(reinterpret_cast<const std::uint8_t*>(first.data()), 3000);
    port.TakeSent();
    std::string second;
    for (int i = 0; i < 2000; ++i) second.push_back(static_cast<char>('0' + i % 10));
    EXPECT_EQ(port.PutBlock(reinterpret_cast<const std::uint8_t*>(second.data()), 2000), 0);
    EXPECT_EQ(port.TakeSent(), second);
}

TEST_F(Dispatcher, FlushOutBufferDiscardsUnsentOutput) {
    const std::string block(100, 'x');
    port.PutBlock(reinterpret_cast<const std::uint8_t*>(block.data()), 100);
    EXPECT_EQ(port.FlushOutBuffer(), 0);
    EXPECT_EQ(port.OutBuffUsed(), 0);
    EXPECT_EQ(port.TakeSent(), "");
}

TEST_F(Dispatcher, DataTriggerNotifiesEveryHandlerWithTheSameBytes) {
    const std::uint16_t handle = port.AddDataTrigger("ok", true);
    const auto reader = [&](std::string& saw) {
        return [&, handle](TTriggerMessage message, std::uint16_t h, int) {
            if (message != TTriggerMessage::TriggerData || h != handle) return;
            std::uint8_t c;
            while (port.GetChar(c) == 0) saw.push_back(static_cast<char>(c));
            handled.Add();
        };
    };
    port.RegisterProcTriggerHandler(reader(first_saw));
    port.RegisterProcTriggerHandler(reader(second_saw));
    port.Receive("xxOk");
    ASSERT_TRUE(handled.WaitFor(2));
    EXPECT_EQ(first_saw, "xxOk");
    EXPECT_EQ(second_saw, "xxOk");
    // The head moved past what the handlers took.
    EXPECT_FALSE(port.CharReady());
}

TEST_F(Dispatcher, LengthTriggerAnnouncesWaitingBytesWithoutTakingThem) {
    port.SetComponentHandler([&](TTriggerMessage message, std::uint16_t, int count) {
        if (message == TTriggerMessage::TriggerAvail && count == 2) handled.Add();
    });
    port.Receive("a");
    ASSERT_TRUE(WaitForBytes(1));
    port.UpdateHandlerFlags(TUpdateHandlerFlags::fuEnablePort);
    port.Receive("b");
    ASSERT_TRUE(handled.WaitFor(1));
    // Nobody took the bytes, so they are still there for GetChar.
    EXPECT_EQ(Take(10), "ab");
}

TEST_F(Dispatcher, EventBusySuppressesNotificationsWhileAWaitReads) {
    port.RegisterProcTriggerHandler([&](TTriggerMessage message, std::uint16_t, int) {
        if (message == TTriggerMessage::TriggerData) handled.Add();
    });
    port.AddDataTrigger("OK", false);
    EXPECT_FALSE(port.SetEventBusy(true));
    port.Receive("OK");
    ASSERT_TRUE(WaitForBytes(2));
    EXPECT_EQ(Take(2), "OK");
    EXPECT_TRUE(port.SetEventBusy(false));
    // A later arrival is announced again; the busy one never is.
    port.Receive("OK");
    ASSERT_TRUE(handled.WaitFor(1));
    port.DonePort();
    EXPECT_EQ(handled.Count(), 1);
}

TEST_F(Dispatcher, TimerAndStatusTriggersFireOnceEach) {
    Counter& timer = handled;
    Counter& status = handled_too;
    const std::uint16_t timer_handle = port.AddTimerTrigger();
    const std::uint16_t cts_handle = port.AddStatusTrigger(TStatusTriggerKind::ModemStatus);
    port.RegisterProcTriggerHandler([&](TTriggerMessage message, std::uint16_t h, int) {
        if (message == TTriggerMessage::TriggerTimer && h == timer_handle) timer.Add();
        if (message == TTriggerMessage::TriggerStatus && h == cts_handle) status.Add();
    });
    EXPECT_EQ(port.SetTimerTrigger(timer_handle, 0, true), 0);
    EXPECT_EQ(port.SetStatusTrigger(cts_handle, msCtsDelta, true), 0);
    port.ReceiveStatus(evCts);
    ASSERT_TRUE(timer.WaitFor(1));
    ASSERT_TRUE(status.WaitFor(1));
    EXPECT_EQ(port.SetTimerTrigger(999, 1, true), ecBadArgument);
    EXPECT_EQ(port.RemoveTrigger(timer_handle), 0);
    EXPECT_EQ(port.RemoveTrigger(timer_handle), ecBadArgument);
}

TEST(DispatcherTriggers, SurviveAReopenThroughSaveAndRestore) {
    TTriggerSave saved;
    {
        FakeDispatcher first;
        ASSERT_EQ(first.InitPort("fake", 115200, pNone, 8, 1, 4096, 4096, 0), 0);
        first.AddDataTrigger("+CMTI", false);
        first.ChangeLengthTrigger(7);
        first.SaveTriggers(saved);
        first.DonePort();
    }
    FakeDispatcher second;
    ASSERT_EQ(second.InitPort("fake", 115200, pNone, 8, 1, 4096, 4096, 0), 0);
    second.RestoreTriggers(saved);
    TTriggerSave now;
    second.SaveTriggers(now);
    ASSERT_EQ(now.DataTriggers.size(), 1u);
    EXPECT_EQ(now.DataTriggers[0].Match, "+CMTI");
    EXPECT_EQ(now.LengthTrigger, 7);
}

TEST_F(Dispatcher, WaitForDataWakesForBytes) {
    std::thread sender([&] { port.Receive("R"); });
    EXPECT_TRUE(port.WaitForData(Clock::now() + kPatience, nullptr));
    sender.join();
    Take(1);
    EXPECT_FALSE(port.WaitForData(Clock::now(), nullptr));
}

// Nothing looks at the stop on a timer any more: a wait that the stop failed to
// wake would sleep its whole deadline.
TEST_F(Dispatcher, SettingTheStopWakesASleepingWaitAtOnce) {
    StopSignal stop;
    std::thread stopper([&] {
        while (stop.Sleepers() == 0) std::this_thread::yield();  // the wait is registered
        stop.Set();
    });
    const auto started = Clock::now();
    EXPECT_FALSE(port.WaitForData(started + kPatience, &stop));
    EXPECT_LT(Clock::now() - started, kPatience);
    stopper.join();
    EXPECT_EQ(stop.Sleepers(), 0u);
    // A stop that came first ends a wait before it sleeps.
    EXPECT_FALSE(port.WaitForData(Clock::now() + kPatience, &stop));
}

// The dispatch thread no longer wakes on its own: only the armed timer's deadline
// brings it round while nothing arrives.
TEST_F(Dispatcher, AnArmedTimerFiresOnTimeWhileNothingArrives) {
    const std::uint16_t timer_handle = port.AddTimerTrigger();
    std::atomic<bool> early{false};
    EventTimer armed;
    port.RegisterProcTriggerHandler([&](TTriggerMessage message, std::uint16_t h, int) {
        if (message != TTriggerMessage::TriggerTimer || h != timer_handle) return;
        if (!TimerExpired(armed)) early = true;
        handled.Add();
    });
    for (int round = 1; round <= 2; ++round) {  // armed while the thread sleeps, twice
        armed = NewTimer(2);
        ASSERT_EQ(port.SetTimerTrigger(timer_handle, 2, true), 0);
        ASSERT_TRUE(handled.WaitFor(round));
    }
    EXPECT_FALSE(early);
}

TEST_F(Dispatcher, ATimerDueDuringABusyWaitFiresWhenTheWaitEnds) {
    const std::uint16_t timer_handle = port.AddTimerTrigger();
    port.RegisterProcTriggerHandler([&](TTriggerMessage message, std::uint16_t, int) {
        if (message == TTriggerMessage::TriggerTimer) handled.Add();
    });
    ASSERT_FALSE(port.SetEventBusy(true));
    ASSERT_EQ(port.SetTimerTrigger(timer_handle, -1, true), 0);  // due at once
    // Only the busy flag holds it back; nothing else will wake the dispatch thread.
    EXPECT_TRUE(port.SetEventBusy(false));
    EXPECT_TRUE(handled.WaitFor(1));
}

TEST_F(Dispatcher, AnOutputTriggerFiresWhenTheWriterEmptiesTheRing) {
    const std::uint16_t sent_handle = port.AddStatusTrigger(TStatusTriggerKind::OutSent);
    port.RegisterProcTriggerHandler([&](TTriggerMessage message, std::uint16_t h, int) {
        if (message == TTriggerMessage::TriggerStatus && h == sent_handle) handled.Add();
    });
    const std::uint8_t bytes[] = {'A', 'T', '\r'};
    ASSERT_EQ(port.PutBlock(bytes, 3), 0);
    ASSERT_EQ(port.SetStatusTrigger(sent_handle, 0, true), 0);
    EXPECT_EQ(port.TakeSent(), "AT\r");  // the write thread's part, no byte arriving
    EXPECT_TRUE(handled.WaitFor(1));
}

TEST_F(Dispatcher, CloseFromAnotherThreadEndsAWaitAtOnce) {
    std::thread closer([&] { port.DonePort(); });
    const auto started = Clock::now();
    EXPECT_FALSE(port.WaitForData(Clock::now() + kPatience, nullptr));
    EXPECT_LT(Clock::now() - started, kPatience);
    closer.join();
    EXPECT_FALSE(port.device_open);
    EXPECT_FALSE(port.Active());
}

TEST_F(Dispatcher, AFailingDeviceTearsTheDispatcherDownByItself) {
    port.Receive("before");
    ASSERT_TRUE(WaitForBytes(6));
    port.Fail();
    // The teardown wakes waits: nothing more can arrive.
    EXPECT_FALSE(port.WaitForData(Clock::now() + kPatience, nullptr, 100));
    EXPECT_TRUE(port.DeviceGone());
    EXPECT_EQ(port.LastError(), ecDeviceRead);
    EXPECT_FALSE(port.CharReady());
    std::uint8_t c = 0;
    EXPECT_EQ(port.GetChar(c), ecCommNotOpen);
    EXPECT_EQ(port.PutBlock(&c, 1), ecCommNotOpen);
    port.DonePort();
    EXPECT_FALSE(port.device_open);
    // A new open works again.
    ASSERT_EQ(port.InitPort("fake", 115200, pNone, 8, 1, 4096, 4096, 0), 0);
    port.Receive("after");
    ASSERT_TRUE(WaitForBytes(5));
    EXPECT_EQ(Take(10), "after");
}

}  // namespace
}  // namespace velka
