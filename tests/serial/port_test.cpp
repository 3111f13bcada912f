// TComPort on the fake device layer: properties, open and close, the I/O
// operations and WaitForString's matching, time-outs and interruptions.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/result.h"
#include "serial/ser_except.h"
#include "serial/ser_port.h"
#include "tests/serial/fake_device.h"

namespace velka {
namespace {

using testing::FakeDispatcher;
using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

class Port : public ::testing::Test {
  protected:
    void SetUp() override {
        // The modem port's settings.
        port.SetBaud(115200);
        port.SetAutoOpen(false);
        port.SetHWFlowOptions(hwfUseDTR | hwfUseRTS);
        port.SetBufferFull(3686);
        port.SetBufferResume(409);
        port.SetComNumber(5);
        port.SetDeviceLayerCallback([this](TCustomComPort&) {
            auto made = std::make_unique<FakeDispatcher>();
            device = made.get();
            return made;
        });
        port.SetStopFlag(&stop);
    }
    void Arrive(const std::string& bytes) {
        const int waiting = device->InBuffUsed() + static_cast<int>(bytes.size());
        device->Receive(bytes);
        ASSERT_TRUE(device->WaitForData(Clock::now() + kPatience, nullptr, waiting));
    }
    std::string Rest() {
        std::string out;
        while (port.CharReady()) out.push_back(port.GetChar());
        return out;
    }

    StopSignal stop;
    FakeDispatcher* device = nullptr;  // owned by the port while it is open
    TComPort port;
};

TEST(PortDefaults, AFreshPortHasTheDocumentedDefaults) {
    TComPort port;
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_TRUE(port.PromptForPort());
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.InSize(), 4096);
    EXPECT_EQ(port.OutSize(), 4096);
    EXPECT_TRUE(port.AutoOpen());
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(port.DTR());
    EXPECT_TRUE(port.RTS());
    EXPECT_EQ(port.HWFlowOptions(), 0);
    EXPECT_EQ(port.XOnChar(), 17);
    EXPECT_EQ(port.XOffChar(), 19);
    EXPECT_EQ(port.BufferFull(), 0);
    EXPECT_EQ(port.TraceName(), "SERIAL.TRC");
    EXPECT_EQ(port.LogName(), "SERIAL.LOG");
    EXPECT_EQ(port.TapiMode(), TTapiMode::tmAuto);
    port.SetDeviceLayer(TDeviceLayer::dlWinsock);  // not supported: ignored
    EXPECT_EQ(port.DeviceLayer(), TDeviceLayer::dlWin32);
}

TEST(PortDefaults, FlowThresholdsFollowTheReceiveQueue) {
    TComPort port;
    port.SetHWFlowOptions(hwfUseDTR | hwfUseRTS);
    EXPECT_EQ(port.BufferFull(), 3686);
    EXPECT_EQ(port.BufferResume(), 409);
    // Above InSize: 0.9 of the value (4500), still above InSize, so applying the
    // flow options brings it back to 0.9 of InSize.
    port.SetBufferFull(5000);
    EXPECT_EQ(port.BufferFull(), 3686);
    port.SetBufferResume(4000);  // above BufferFull: 0.1 of BufferFull
    EXPECT_EQ(port.BufferResume(), 368);
    TComPort software;
    software.SetSWFlowOptions(TSWFlowOptions::swfBoth);
    EXPECT_EQ(software.BufferFull(), 3072);
    EXPECT_EQ(software.BufferResume(), 1024);
}

TEST_F(Port, OpensOnceWithTheModemSettings) {
    int opened = 0;
    port.OnPortOpen = [&](TCustomComPort&) { ++opened; };
    port.SetOpen(true);
    port.SetOpen(true);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.PortState(), TPortState::psOpen);
    EXPECT_EQ(device->opened_name, "\\\\.\\COM5");
    const TDeviceControlBlock block = device->ControlBlock();
    EXPECT_EQ(block.BaudRate, 115200u);
    EXPECT_EQ(block.DtrControl(), kLineHandshake);
    EXPECT_EQ(block.RtsControl(), kLineHandshake);
    EXPECT_EQ(block.XoffLim, 410);
    EXPECT_EQ(block.XonLim, 409);
}

TEST_F(Port, ClosingAClosedPortDoesNothingAndIOOnItRaises) {
    int closed = 0;
    port.OnPortClose = [&](TCustomComPort&) { ++closed; };
    port.SetOpen(false);
    EXPECT_EQ(closed, 0);
    EXPECT_THROW(port.CharReady(), ECommNotOpen);
    EXPECT_THROW(port.PutString("AT\r"), ECommNotOpen);
    EXPECT_THROW(IgnoreFailure(port.WaitForString("OK", 1, false, true)), ECommNotOpen);
    port.SetOpen(true);
    port.SetOpen(false);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(port.Open());
}

TEST_F(Port, AutoOpenOpensForTheFirstOperation) {
    port.SetAutoOpen(true);
    EXPECT_FALSE(port.CharReady());
    EXPECT_TRUE(port.Open());
}

TEST_F(Port, OpenFailuresRaiseTheirClassAndLeaveThePortClosed) {
    port.SetComNumber(99);
    try {
        port.SetOpen(true);
        FAIL() << "no exception";
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode(), ecBadId);
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), TPortState::psClosed);
    port.SetComNumber(98);
    EXPECT_THROW(port.SetOpen(true), EAlreadyOpen);
    port.SetComNumber(3);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
}

TEST_F(Port, NoPortNumberAsksTheSelectorOrRefuses) {
    port.SetComNumber(0);
    EXPECT_THROW(port.SetOpen(true), ENoPortSelected);
    port.SetPortSelector([] { return std::optional<std::uint16_t>(12); });
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 12);
    EXPECT_EQ(device->opened_name, "\\\\.\\COM12");
}

TEST_F(Port, SetComNumberReopensWithTheTriggersAndIgnoresTheSameNumber) {
    port.SetOpen(true);
    FakeDispatcher* first = device;
    port.SetComNumber(5);
    EXPECT_EQ(device, first);
    port.AddDataTrigger("+CMTI", false);
    port.SetComNumber(7);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(device->opened_name, "\\\\.\\COM7");
    TTriggerSave triggers;
    device->SaveTriggers(triggers);
    ASSERT_EQ(triggers.DataTriggers.size(), 1u);
    EXPECT_EQ(triggers.DataTriggers[0].Match, "+CMTI");
}

TEST_F(Port, GetCharOnAnEmptyBufferRaisesAndPutStringTakesWholeStringsOnly) {
    port.SetOpen(true);
    EXPECT_FALSE(port.CharReady());
    EXPECT_THROW(port.GetChar(), EBufferIsEmpty);
    EXPECT_THROW(port.PutString(std::string(5000, 'x')), EOutputBufferTooSmall);
    EXPECT_EQ(device->TakeSent(), "");
    port.PutString("");
    port.PutString(std::string(4096, 'y'));
    EXPECT_EQ(device->TakeSent(), std::string(4096, 'y'));
}

TEST_F(Port, FlushesDiscardBothDirections) {
    port.SetOpen(true);
    Arrive("stale");
    port.PutString("unsent");
    port.FlushInBuffer();
    port.FlushOutBuffer();
    EXPECT_FALSE(port.CharReady());
    EXPECT_EQ(device->TakeSent(), "");
}

TEST_F(Port, WaitForStringMatchesIgnoringCaseAndLeavesTheRest) {
    port.SetOpen(true);
    Arrive("\r\nok\r\n");
    EXPECT_TRUE(port.WaitForString("OK", 100, false, true));
    EXPECT_EQ(Rest(), "\r\n");
    Arrive("ok");
    EXPECT_FALSE(port.WaitForString("OK", 1, false, false));
}

TEST_F(Port, WaitForStringRestartsOnlyOnTheFirstCharacter) {
    port.SetOpen(true);
    Arrive("OOK");
    EXPECT_TRUE(port.WaitForString("OK", 100, false, true));
    Arrive("OXK");
    EXPECT_FALSE(port.WaitForString("OK", 1, false, true));
    EXPECT_EQ(Rest(), "");  // everything taken while waiting is consumed
}

TEST_F(Port, WaitForStringFindsAnAnswerThatArrivesLater) {
    port.SetOpen(true);
    std::thread modem([&] { device->Receive("AT\r\r\nOK\r\n"); });
    EXPECT_TRUE(port.WaitForString("OK", 1000, false, true));
    modem.join();
}

TEST_F(Port, WaitForStringWithAnEmptyStringConsumesNothing) {
    port.SetOpen(true);
    Arrive("x");
    EXPECT_TRUE(port.WaitForString("", 100, false, true));
    EXPECT_EQ(Rest(), "x");
}

TEST_F(Port, TheStopFlagEndsAWaitAtOnceWithFailure) {
    port.SetOpen(true);
    std::thread stopper([&] { stop.Set(); });
    const auto started = Clock::now();
    EXPECT_FALSE(port.WaitForString("OK", 1000, false, true));  // 55 s unless stopped
    EXPECT_LT(Clock::now() - started, kPatience);
    stopper.join();
    EXPECT_FALSE(port.WaitCharReady(Clock::now() + kPatience));
}

TEST_F(Port, ACloseFromAnotherThreadEndsAWaitWithFailure) {
    port.SetOpen(true);
    // The event pump runs inside the wait: it tells when the wait has begun.
    std::promise<void> waiting;
    port.SetEventPump([&, told = false]() mutable {
        if (!std::exchange(told, true)) waiting.set_value();
    });
    std::atomic<bool> result{true};
    std::thread waiter([&] { result = port.WaitForString("OK", 1000, true, true); });
    waiting.get_future().wait();
    port.SetOpen(false);
    waiter.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), TPortState::psClosed);
}

TEST_F(Port, WaitCharReadySleepsUntilACharacterArrives) {
    port.SetOpen(true);
    std::thread modem([&] { device->Receive("+"); });
    EXPECT_TRUE(port.WaitCharReady(Clock::now() + kPatience));
    modem.join();
    EXPECT_EQ(port.GetChar(), '+');
    EXPECT_FALSE(port.WaitCharReady(Clock::now()));
}

TEST_F(Port, AVanishedDeviceFailsWaitsAndOperationsUntilClosedAndReopened) {
    port.SetOpen(true);
    device->Fail();
    EXPECT_FALSE(port.WaitForString("OK", 1000, false, true));
    EXPECT_TRUE(port.Open());  // still counted open until its owner closes it
    EXPECT_FALSE(port.CharReady());
    EXPECT_THROW(port.PutString("AT\r"), ECommNotOpen);
    port.SetOpen(false);
    port.SetOpen(true);
    Arrive("OK");
    EXPECT_TRUE(port.WaitForString("OK", 100, false, true));
}

TEST_F(Port, TriggerEventsReachTheAssignedHandlers) {
    std::atomic<int> data_hits{0};
    port.SetOpen(true);
    port.OnTriggerData = [&](TCustomComPort&, std::uint16_t) { ++data_hits; };
    port.UpdateHandlerFlag();
    port.AddDataTrigger("RING", false);
    Arrive("RING");
    // The notification comes from the dispatch thread right after the bytes.
    port.SetOpen(false);
    EXPECT_EQ(data_hits, 1);
}

}  // namespace
}  // namespace velka
