// The POSIX device layer and its threads over pseudo-terminal pairs.
#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <future>
#include <thread>

#include "serial/ser_except.h"
#include "serial/ser_posix.h"
#include "tests/support/pty_pair.h"

namespace velka {
namespace {

using testing::PtyPair;
using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

std::string Pattern(std::size_t n) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(i * 7 % 251));
    return bytes;
}

class PosixPort : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Open(), 0); }
    int Open(std::uint32_t baud = 115200, int parity = pNone, int data_bits = 8,
             int stop_bits = 1) {
        return port.InitPort(pty.SlavePath(), baud, parity, data_bits, stop_bits, 4096, 4096, 0x33);
    }
    // Takes n received bytes, sleeping on the dispatcher between arrivals.
    std::string Take(std::size_t n) {
        std::string out;
        std::uint8_t c = 0;
        while (out.size() < n && port.WaitForData(Clock::now() + kPatience, nullptr)) {
            while (out.size() < n && port.GetChar(c) == 0) out.push_back(static_cast<char>(c));
        }
        return out;
    }
    void Put(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += 1024) {
            const std::string piece = bytes.substr(at, 1024);
            const int n = static_cast<int>(piece.size());
            ASSERT_TRUE(port.WaitForOutputRoom(n, Clock::now() + kPatience));
            ASSERT_EQ(port.PutBlock(reinterpret_cast<const std::uint8_t*>(piece.data()), n), 0);
        }
    }
    termios SlaveSettings() {
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::close(fd);
        return tio;
    }

    PtyPair pty;
    TPosixDispatcher port;
};

TEST_F(PosixPort, BytesTravelBothWays) {
    pty.Write("\r\nOK\r\n");
    EXPECT_EQ(Take(6), "\r\nOK\r\n");
    Put("AT+CMGF=0\r");
    EXPECT_EQ(pty.Read(10), "AT+CMGF=0\r");
}

TEST_F(PosixPort, LargeTransfersArriveWholeAndInOrder) {
    const std::string inbound = Pattern(200'000);
    std::thread modem([&] { pty.Write(inbound); });
    const std::string received = Take(inbound.size());
    modem.join();
    EXPECT_EQ(received.size(), inbound.size());
    EXPECT_TRUE(received == inbound);

    const std::string outbound = Pattern(150'000);
    std::string echoed;
    std::thread reader([&] { echoed = pty.Read(outbound.size()); });
    Put(outbound);
    reader.join();
    EXPECT_EQ(echoed.size(), outbound.size());
    EXPECT_TRUE(echoed == outbound);
}

TEST_F(PosixPort, LineSettingsReachTheDevice) {
    termios tio = SlaveSettings();
    EXPECT_EQ(::cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));

    // A pseudo-terminal keeps 8 data bits without parity whatever it is told;
    // the speed and stop bits show that the settings reached it.
    EXPECT_EQ(port.SetLine(9600, pEven, 7, 2), 0);
    tio = SlaveSettings();
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(port.ControlBlock().ByteSize, 7);
    EXPECT_EQ(port.ControlBlock().Parity, pEven);

    EXPECT_EQ(port.HWFlowOptions(3686, 409, kHWUseDtr | kHWUseRts), 0);
    EXPECT_TRUE(SlaveSettings().c_cflag & CRTSCTS);
    EXPECT_EQ(port.SWFlowEnable(3072, 1024, kSWTransmit), 0);
    EXPECT_TRUE(SlaveSettings().c_iflag & IXON);
    EXPECT_EQ(port.SetLine(12345, 5, 9, 3), ecBaudRate);
}

TEST_F(PosixPort, FlushInBufferDropsWhatWaitsAndLaterBytesArrive) {
    pty.Write("junk");
    EXPECT_EQ(Take(2), "ju");
    EXPECT_EQ(port.FlushInBuffer(), 0);
    EXPECT_FALSE(port.CharReady());
    pty.Write("OK");
    EXPECT_EQ(Take(2), "OK");
}

TEST_F(PosixPort, FlushOutBufferAbandonsUnsentOutputAndLaterOutputIsSent) {
    // The modem reads nothing for a while: the driver's queue and the ring fill up.
    const std::string flood(4096, 'x');
    for (int i = 0; i < 64; ++i) {
        if (!port.WaitForOutputRoom(4096, Clock::now() + std::chrono::milliseconds(200))) break;
        port.PutBlock(reinterpret_cast<const std::uint8_t*>(flood.data()), 4096);
    }
    EXPECT_EQ(port.FlushOutBuffer(), 0);
    EXPECT_EQ(port.OutBuffUsed(), 0);
    Put("END");
    const std::string arrived = pty.ReadThrough("END");
    ASSERT_GE(arrived.size(), 3u);
    EXPECT_EQ(arrived.substr(arrived.size() - 3), "END");
    EXPECT_LT(arrived.size(), 64u * 4096u);
}

TEST_F(PosixPort, APeerThatClosesItsEndIsAVanishedDevice) {
    pty.Write("last words");
    EXPECT_EQ(Take(4), "last");
    pty.CloseMaster();
    // The teardown wakes the wait at once; no byte arrives after it.
    EXPECT_FALSE(port.WaitForData(Clock::now() + kPatience, nullptr, 100));
    EXPECT_TRUE(port.DeviceGone());
    EXPECT_EQ(port.LastError(), 0);  // a hang-up, not a read error
    std::uint8_t c = 0;
    EXPECT_EQ(port.GetChar(c), ecCommNotOpen);
    EXPECT_EQ(port.PutBlock(&c, 1), ecCommNotOpen);
    EXPECT_EQ(port.DonePort(), 0);

    // The device comes back (a new pseudo-terminal): a new open works.
    PtyPair again;
    ASSERT_EQ(port.InitPort(again.SlavePath(), 115200, pNone, 8, 1, 4096, 4096, 0x33), 0);
    again.Write("back");
    EXPECT_EQ(Take(4), "back");
}

TEST_F(PosixPort, ClosingIdleThreadsRunsIntoNoTimeLimit) {
    const auto started = Clock::now();
    EXPECT_EQ(port.DonePort(), 0);
    // The flush acknowledgement alone would take 5 s if the write thread missed it.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(4));
    EXPECT_FALSE(port.Active());
}

// The read thread sleeps in poll() with no time limit; only the close's wake-up
// ends it. Without one, the close would wait for a byte that never comes: the
// test then sends one itself, so that it can report the fault instead of hanging.
TEST_F(PosixPort, CloseWakesTheSleepingReadThreadAtOnce) {
    std::promise<int> closed;
    std::thread closer([&] { closed.set_value(port.DonePort()); });
    auto result = closed.get_future();
    if (result.wait_for(kPatience) != std::future_status::ready) {
        ADD_FAILURE() << "the close did not wake the read thread";
        pty.Write("x");
    }
    closer.join();
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(port.Active());
}

TEST(PosixOpen, MissingAndHeldDevicesAreRefusedWithTheirSystemErrors) {
    TPosixDispatcher port;
    EXPECT_EQ(port.InitPort("/dev/no-such-modem", 115200, pNone, 8, 1, 4096, 4096, 0), -2);
    PtyPair pty;
    TPosixDispatcher first;
    ASSERT_EQ(first.InitPort(pty.SlavePath(), 115200, pNone, 8, 1, 4096, 4096, 0), 0);
    TPosixDispatcher second;
    EXPECT_EQ(second.InitPort(pty.SlavePath(), 115200, pNone, 8, 1, 4096, 4096, 0), -5);
    EXPECT_EQ(second.ProbeDevice(pty.SlavePath()), -5);
    first.DonePort();
    EXPECT_EQ(second.ProbeDevice(pty.SlavePath()), 0);
}

}  // namespace
}  // namespace velka
