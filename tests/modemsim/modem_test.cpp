#include "tools/modemsim/modem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "tests/modemsim/client_line.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka::modemsim {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ClientLine;

// "Hi" to +79990000002, and a UCS2 segment 1 of 2 with a concatenation header to the same.
constexpr const char* kHiToSecond = "0011000B919799000000F20000FF02C834";
constexpr int kHiLength = 16;
// "Hi" to +79990000001.
constexpr const char* kHiToFirst = "0011000B919799000000F10000FF02C834";
constexpr const char* kUcs2SegmentToSecond =
    "0051000B919799000000F20008FF0C0500037F0201041F04400438";
constexpr int kUcs2SegmentLength = 26;

class ModemTest : public ::testing::Test {
  protected:
    std::unique_ptr<Modem> StartModem(const std::string& number,
                                      std::function<void(bool)> observer = {}) {
        ModemConfig config;
        config.identity.number = number;
        config.device_path = dir_.File("modem" + number);
        config.on_line_change = std::move(observer);
        auto modem = Modem::Start(std::move(config), network_);
        EXPECT_TRUE(modem.ok()) << (modem.ok() ? "" : modem.error().message);
        return modem.ok() ? std::move(*modem) : nullptr;
    }

    void Send(ClientLine& line, const std::string& pdu, int length) {
        line.Write("AT+CMGS=" + std::to_string(length) + "\r");
        line.ReadUntil("> ");
        line.Write(pdu + "\x1A");
    }

    velka::testing::TempDir dir_;
    Network network_;
};

TEST_F(ModemTest, ServesEchoedCommandsAndFramedAnswersThroughTheTerminal) {
    auto modem = StartModem("+79990000001");
    ClientLine line(modem->device_path());
    line.Write("AT\r");
    EXPECT_EQ(line.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    line.Write("ATE0\rAT+CPIN?\r");
    EXPECT_EQ(line.ReadUntil("READY"), "ATE0\r\r\nOK\r\n\r\n+CPIN: READY");
    EXPECT_EQ(line.ReadUntil("OK\r\n"), "\r\n\r\nOK\r\n");
}

TEST_F(ModemTest, ASubmitToASimulatedNumberArrivesThereAsADeliver) {
    auto first = StartModem("+79990000001");
    auto second = StartModem("+79990000002");
    ClientLine sender(first->device_path()), recipient(second->device_path());
    sender.Write("ATE0\r");
    sender.ReadUntil("OK\r\n");
    Send(sender, kHiToSecond, kHiLength);
    EXPECT_EQ(sender.ReadUntil("OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(recipient.ReadUntil("\r\n+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
    Send(sender, kUcs2SegmentToSecond, kUcs2SegmentLength);
    sender.ReadUntil("OK\r\n");
    recipient.ReadUntil("\r\n+CMTI: \"SM\",2\r\n");

    const auto stored = second->Messages();
    ASSERT_EQ(stored.size(), 2u);
    const auto hi = ParseDeliver(stored[0].pdu);
    ASSERT_TRUE(hi.ok());
    EXPECT_EQ(hi->originator, "+79990000001");
    EXPECT_EQ(hi->service_centre, network_.service_centre());
    EXPECT_EQ(hi->time.zone_quarters, NowLocal().zone_quarters);
    EXPECT_EQ(UserDataText(hi->data), "Hi");
    // Coding, header flag and user data travel unchanged.
    const auto segment = ParseDeliver(stored[1].pdu);
    const auto submitted = ParseSubmit(kUcs2SegmentToSecond, kUcs2SegmentLength);
    ASSERT_TRUE(segment.ok() && submitted.ok());
    EXPECT_EQ(segment->data.coding, 0x08);
    EXPECT_TRUE(segment->data.has_header);
    EXPECT_EQ(segment->data.length, submitted->data.length);
    EXPECT_EQ(segment->data.octets, submitted->data.octets);
    EXPECT_TRUE(first->Messages().empty());
}

TEST_F(ModemTest, SubmitsToOtherNumbersAreKeptForInspection) {
    auto modem = StartModem("+79990000001");
    ClientLine line(modem->device_path());
    Send(line, "0011000B911732547698F00000FF02C834", 16);
    line.ReadUntil("OK\r\n");
    const auto outside = network_.Outside();
    ASSERT_EQ(outside.size(), 1u);
    EXPECT_EQ(outside[0].sender, "+79990000001");
    EXPECT_EQ(outside[0].destination, "+71234567890");
    EXPECT_EQ(outside[0].text, "Hi");
}

TEST_F(ModemTest, AModemCanSendToItself) {
    auto modem = StartModem("+79990000002");
    ClientLine line(modem->device_path());
    Send(line, kHiToSecond, kHiLength);
    line.ReadUntil("+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(modem->Messages().size(), 1u);
}

TEST_F(ModemTest, ADroppedLineHangsUpAndComesBackUnderTheSamePath) {
    std::atomic<int> downs = 0, ups = 0;
    auto modem = StartModem("+79990000001", [&](bool up) { ++(up ? ups : downs); });
    modem->Receive(DeliversForText("kept", "+7111", "+7000", NowLocal(), 1)[0]);
    const std::string path = modem->device_path();
    ClientLine line(path);
    line.Write("ATE0\r");
    line.ReadUntil("OK\r\n");

    ASSERT_TRUE(modem->DropLine().ok());
    EXPECT_TRUE(line.WaitForHangUp());
    EXPECT_FALSE(std::filesystem::is_symlink(path));  // unplugged: the device is gone
    EXPECT_FALSE(modem->line_up());
    EXPECT_FALSE(modem->DropLine().ok());
    EXPECT_EQ(downs, 1);

    ASSERT_TRUE(modem->RestoreLine().ok());
    EXPECT_EQ(ups, 1);
    ASSERT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::read_symlink(path)));
    ClientLine again(path);
    again.Write("AT\r");
    EXPECT_EQ(again.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");  // echo on: it was reset
    EXPECT_EQ(modem->Messages().size(), 1u);                 // the SIM kept its message
}

TEST_F(ModemTest, DelayedAnswersComeNoSoonerThanTheirDelay) {
    auto modem = StartModem("+79990000001");
    Faults faults;
    faults.answer_delay = milliseconds(300);
    faults.confirm_delay = milliseconds(700);
    modem->SetFaults(faults);
    ClientLine line(modem->device_path());
    auto start = steady_clock::now();
    line.Write("AT\r");
    EXPECT_EQ(line.ReadUntil("AT\r"), "AT\r");  // the echo is not held back
    EXPECT_EQ(line.ReadUntil("OK\r\n"), "\r\nOK\r\n");
    EXPECT_GE(steady_clock::now() - start, milliseconds(300));
    line.Write("AT+CMGS=16\r");
    line.ReadUntil("> ");
    start = steady_clock::now();
    line.Write("0011000B911732547698F00000FF02C834\x1A");
    line.ReadUntil("+CMGS: 0");
    EXPECT_GE(steady_clock::now() - start, milliseconds(1000));
}

TEST_F(ModemTest, UnsolicitedLinesAndNoiseGoOutWhenAsked) {
    auto modem = StartModem("+79990000001");
    ClientLine line(modem->device_path());
    modem->SendUnsolicited("^RSSI:17");
    EXPECT_EQ(line.ReadUntil("^RSSI:17\r\n"), "\r\n^RSSI:17\r\n");
    modem->SendNoise(7);
    EXPECT_EQ(line.ReadCount(7).size(), 7u);
}

TEST_F(ModemTest, WhatIsSentWhileNoClientHasThePortOpenIsLost) {
    auto modem = StartModem("+79990000001");
    modem->SendUnsolicited("RING");
    modem->Receive(DeliversForText("while away", "+7111", "+7000", NowLocal(), 1)[0]);
    ClientLine line(modem->device_path());
    line.Write("AT\r");
    EXPECT_EQ(line.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(modem->Messages().size(), 1u);  // the SIM took the message all the same
}

TEST_F(ModemTest, TheTranscriptHoldsEveryByteEachWayInOrder) {
    auto modem = StartModem("+79990000001");
    ClientLine line(modem->device_path());
    line.Write("AT\r");
    line.ReadUntil("OK\r\n");
    std::string to_modem, from_modem;
    steady_clock::duration last{};
    for (const TranscriptEntry& e : modem->Transcript()) {
        (e.direction == Direction::ToModem ? to_modem : from_modem) += e.bytes;
        EXPECT_GE(e.at, last);
        last = e.at;
    }
    EXPECT_EQ(to_modem, "AT\r");
    EXPECT_EQ(from_modem, "AT\r\r\nOK\r\n");
    const std::string text = FormatTranscript(modem->Transcript());
    EXPECT_NE(text.find(" > AT\\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" < \\r\\nOK\\r\\n\n"), std::string::npos) << text;
}

TEST(FormatTranscript, EscapesControlBytes) {
    const std::vector<TranscriptEntry> entries = {
        {milliseconds(1500), Direction::FromModem, std::string("a\x1A\\", 3)}};
    EXPECT_EQ(FormatTranscript(entries), "     1.500 < a\\x1A\\\\\n");
}

TEST(StartModem, FailsClearlyWhenTheLinkCannotBeMade) {
    Network network;
    ModemConfig config;
    config.identity.number = "+79990000001";
    config.device_path = "/nonexistent-dir/modem1";
    const auto modem = Modem::Start(std::move(config), network);
    ASSERT_FALSE(modem.ok());
    EXPECT_NE(modem.error().message.find("/nonexistent-dir/modem1"), std::string::npos);
    EXPECT_NE(modem.error().system_code, 0);
}

// --- the control requests of velka-modemsim ---

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto started = Simulator::Start(SimulatorOptions{DefaultNumbers(2), dir_.path(), 3});
        ASSERT_TRUE(started.ok());
        simulator_ = std::move(*started);
    }
    velka::testing::TempDir dir_;
    std::unique_ptr<Simulator> simulator_;
};

TEST(DefaultNumbers, CountFromOne) {
    EXPECT_EQ(DefaultNumbers(2), (std::vector<std::string>{"+79990000001", "+79990000002"}));
}

TEST_F(SimulatorTest, ListsItsModems) {
    EXPECT_EQ(simulator_->Control("list"), "1 " + dir_.File("modem1") +
                                               " +79990000001 up 0 stored\n2 " +
                                               dir_.File("modem2") + " +79990000002 up 0 stored\n");
}

TEST_F(SimulatorTest, InjectsTextAndRawPdusAndShowsTheStore) {
    EXPECT_EQ(simulator_->Control("inject 2 +71234567890 Hello  there"), "ok\n");
    EXPECT_EQ(simulator_->Control("inject +79990000002 +7123 Привет"), "ok\n");
    const std::string pdu = DeliversForText("raw", "+7555", "+7000", NowLocal(), 1)[0];
    EXPECT_EQ(simulator_->Control("inject-pdu 2 " + pdu), "ok\n");
    const std::string store = simulator_->Control("store 2");
    EXPECT_NE(store.find("1 unread "), std::string::npos) << store;
    EXPECT_NE(store.find("from +71234567890: Hello there"), std::string::npos) << store;
    EXPECT_NE(store.find("from +7123: Привет"), std::string::npos) << store;
    EXPECT_NE(store.find("3 unread " + pdu), std::string::npos) << store;
    EXPECT_EQ(simulator_->Control("store 1"), "");
}

TEST_F(SimulatorTest, SwitchesFaultsAndDropsLines) {
    EXPECT_EQ(simulator_->Control("fault 1 lower on"), "ok\n");
    EXPECT_EQ(simulator_->Control("fault 1 delay 250"), "ok\n");
    EXPECT_EQ(simulator_->Control("fault 1 unsolicited-before AT+CMGL +CMTI: \"SM\",2"), "ok\n");
    EXPECT_EQ(simulator_->Control("fault 1 random-noise 0.25"), "ok\n");
    const Faults f = simulator_->modem(0).faults();
    EXPECT_TRUE(f.lower_case);
    EXPECT_EQ(f.answer_delay, milliseconds(250));
    EXPECT_EQ(f.unsolicited_command, "AT+CMGL");
    EXPECT_EQ(f.unsolicited_line, "+CMTI: \"SM\",2");
    EXPECT_EQ(f.random_noise, 0.25);
    EXPECT_NE(simulator_->Control("faults 1").find("lower on\n"), std::string::npos);
    EXPECT_EQ(simulator_->Control("fault 1 report-status 69 2"), "ok\n");
    EXPECT_NE(simulator_->Control("faults 1").find("report-status 69 2\n"), std::string::npos);
    EXPECT_EQ(simulator_->Control("fault 1 clear"), "ok\n");
    EXPECT_FALSE(simulator_->modem(0).faults().lower_case);
    EXPECT_EQ(simulator_->Control("drop 2"), "ok\n");
    EXPECT_NE(simulator_->Control("list").find("+79990000002 down"), std::string::npos);
    EXPECT_EQ(simulator_->Control("restore 2"), "ok\n");
}

TEST_F(SimulatorTest, RefusesBadRequestsAndSaysWhy) {
    for (const char* request :
         {"fault 1 delay soon", "fault 1 random-noise 2", "fault 1 silent maybe",
          "fault 1 colour red", "inject 9 +7123 hi", "inject 1 +7123", "inject-pdu 1 0011",
          "noise 1 many", "frobnicate 1 x", "store", "restore 1", "fault 1 report-status 69 -1",
          "fault 1 report-status 300"}) {
        const std::string answer = simulator_->Control(request);
        EXPECT_TRUE(answer.starts_with("error: ")) << request << " -> " << answer;
    }
    EXPECT_NE(simulator_->Control("help").find("inject MODEM SENDER TEXT"), std::string::npos);
}

// A modem with a second interface: one modem behind two terminals. Each port keeps
// its own echo; both answer with the same serials and the same SIM store; what
// arrives is announced on the first port only; unplugging takes both away.
TEST_F(ModemTest, ASecondPortServesTheSameModemWithItsOwnSettings) {
    ModemConfig config;
    config.identity.number = "+79990000001";
    config.device_path = dir_.File("modem1");
    config.second_device_path = dir_.File("modem1.2");
    auto started = Modem::Start(std::move(config), network_);
    ASSERT_TRUE(started.ok()) << started.error().message;
    Modem& modem = **started;
    auto other = StartModem("+79990000002");
    ASSERT_EQ(modem.ports(), 2u);
    ClientLine at(modem.device_path(0)), second(modem.device_path(1));
    at.Write("ATE0\r");
    at.ReadUntil("OK\r\n");
    second.Write("AT+CGSN\r");
    EXPECT_EQ(second.ReadUntil("OK\r\n"), "AT+CGSN\r\r\n" + modem.serials().imei + "\r\n\r\nOK\r\n")
        << "the echo is still on there";
    at.Write("AT+CGSN\r");
    EXPECT_EQ(at.ReadUntil("OK\r\n"), "\r\n" + modem.serials().imei + "\r\n\r\nOK\r\n");

    ClientLine sender(other->device_path());
    Send(sender, kHiToFirst, kHiLength);
    EXPECT_EQ(at.ReadUntil("\r\n+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
    second.Write("ATE0\r");
    second.ReadUntil("OK\r\n");
    second.Write("AT+CMGL=4\r");
    EXPECT_NE(second.ReadUntil("OK\r\n").find("+CMGL: 1,0,,"), std::string::npos)
        << "the message the first port announced";
    Send(second, kHiToSecond, kHiLength);
    EXPECT_NE(second.ReadUntil("OK\r\n").find("+CMGS: 0"), std::string::npos);
    EXPECT_EQ(other->Messages().size(), 1u) << "sent through the second port";

    ASSERT_TRUE(modem.DropLine().ok());
    EXPECT_TRUE(at.WaitForHangUp());
    EXPECT_TRUE(second.WaitForHangUp());
    EXPECT_FALSE(std::filesystem::exists(modem.device_path(1)));
    ASSERT_TRUE(modem.RestoreLine().ok());
    EXPECT_TRUE(std::filesystem::exists(modem.device_path(1)));
    EXPECT_EQ(modem.Messages().size(), 1u);
}

}  // namespace
}  // namespace velka::modemsim
