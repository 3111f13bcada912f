// Who the modem and its SIM are: the answer forms of the makers' manuals, and the
// reading against virtual modems that a pool of modems relies on.
#include "modem/device_identity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "modem/session.h"
#include "platform/registry.h"
#include "store/packet.h"
#include "tests/modem/sim_fixture.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::SimModems;

Answer Ok(std::vector<std::string> lines) {
    return Answer{Outcome::Ok, std::move(lines), "OK"};
}

// ---- The answer forms ----

struct AnswerForm {
    const char* source;  // whose manual or firmware answers so
    std::string (*parse)(const Answer&);
    std::vector<std::string> lines;
    const char* expected;
};

// clang-format off
// One row per form, so that the table reads as the list of forms it is.
const AnswerForm kForms[] = {
    {"27.007 AT+CGSN, bare", ImeiFrom, {"490154203237518"}, "490154203237518"},
    {"AT+CGSN with its prefix", ImeiFrom, {"+CGSN: 490154203237518"}, "490154203237518"},
    {"AT+CGSN quoted", ImeiFrom, {"+CGSN: \"490154203237518\""}, "490154203237518"},
    {"AT+GSN of firmware that labels it", ImeiFrom, {"IMEI: 490154203237518"}, "490154203237518"},
    {"14 digits, no check digit", ImeiFrom, {"49015420323751"}, "490154203237518"},
    {"a wrong check digit is kept", ImeiFrom, {"490154203237511"}, "490154203237511"},
    {"the all-zero IMEI of clones", ImeiFrom, {"000000000000000"}, ""},
    {"an ESN is no IMEI", ImeiFrom, {"+GSN: 8A3F12C4"}, ""},
    {"an echo before the value", ImeiFrom, {"AT+CGSN", "490154203237518"}, "490154203237518"},
    {"27.007 AT+CIMI", ImsiFrom, {"250991234567890"}, "250991234567890"},
    {"AT+CIMI with its prefix", ImsiFrom, {"+CIMI: 250991234567890"}, "250991234567890"},
    {"an IMSI too short", ImsiFrom, {"25099"}, ""},
    {"u-blox, Cinterion AT+CCID", IccidFrom, {"+CCID: 8939107800023416395"}, "8939107800023416395"},
    {"AT+CCID quoted", IccidFrom, {"+CCID: \"89701990000000000018\""}, "89701990000000000018"},
    {"SIMCom AT+CCID, bare", IccidFrom, {"89860117838009934120"}, "89860117838009934120"},
    {"Quectel AT+QCCID, 19 digits and F", IccidFrom, {"+QCCID: 8986002512830601247F"}, "8986002512830601247"},
    {"SIMCom AT+CICCID", IccidFrom, {"+ICCID: 89860117838009934120"}, "89860117838009934120"},
    {"Telit AT#CCID", IccidFrom, {"#CCID: 89390100001234567890"}, "89390100001234567890"},
    {"Sierra AT!ICCID?", IccidFrom, {"ICCID: 89014103211118510720"}, "89014103211118510720"},
    {"ZTE AT+ZGETICCID", IccidFrom, {"+ZGETICCID: 89860113843500219383"}, "89860113843500219383"},
    {"Cinterion AT^SCID", IccidFrom, {"^SCID: 89490200001234567890"}, "89490200001234567890"},
    {"Nordic AT%XICCID, padded", IccidFrom, {"%XICCID: 8901234567012345678F"}, "8901234567012345678"},
    {"Huawei AT^ICCID?, swapped", IccidFrom, {"^ICCID: 980791799909000010F3"}, "8970199799900000013"},
    {"Huawei AT^ICCID?, plain", IccidFrom, {"^ICCID: 8970199799900000013"}, "8970199799900000013"},
    {"too short for an ICCID", IccidFrom, {"+CCID: 8970199"}, ""},
    {"not a telecom card", IccidFrom, {"+CCID: 1234567890123456789"}, ""},
    {"27.007 AT+CRSM on EF_ICCID", IccidFromSimFile, {"+CRSM: 144,0,\"980791799909000010F3\""}, "8970199799900000013"},
    {"AT+CRSM unquoted, lower case", IccidFromSimFile, {"+crsm: 144,0,980791799909000010f3"}, "8970199799900000013"},
    {"AT+CRSM, 20 digits", IccidFromSimFile, {"+CRSM: 144,0,\"98071099000000000081\""}, "89700199000000000018"},
    {"AT+CRSM file not found", IccidFromSimFile, {"+CRSM: 106,130"}, ""},
    {"AT+CRSM refused by the SIM", IccidFromSimFile, {"+CRSM: 148,4,\"980791799909000010F3\""}, ""},
};
// clang-format on

TEST(DeviceIdentityAnswersTest, EveryMakersFormGivesTheValueAndNothingElsePassesForOne) {
    for (const AnswerForm& form : kForms) {
        EXPECT_EQ(form.parse(Ok(form.lines)), form.expected) << form.source;
    }
    EXPECT_EQ(ImeiFrom(Answer{Outcome::Error, {"490154203237518"}, "ERROR"}), "")
        << "an answer that ended in an error gives nothing";
}

TEST(DeviceIdentityAnswersTest, TheMakersOwnIccidCommandComesFirst) {
    using Commands = std::vector<std::string_view>;
    const Commands standard = {"AT+CRSM=176,12258,0,0,10", "AT+CCID"};
    EXPECT_EQ(IccidCommands("Velka"), standard);
    EXPECT_EQ(IccidCommands(""), standard);
    EXPECT_EQ(IccidCommands("huawei"),
              (Commands{"AT^ICCID?", "AT+CRSM=176,12258,0,0,10", "AT+CCID"}));
    EXPECT_EQ(IccidCommands("SIMCOM INCORPORATED"),
              (Commands{"AT+CICCID", "AT+CRSM=176,12258,0,0,10", "AT+CCID"}));
    EXPECT_EQ(IccidCommands("u-blox"), (Commands{"AT+CCID", "AT+CRSM=176,12258,0,0,10"}))
        << "its own command is AT+CCID, asked once";
}

// ---- Against virtual modems ----

class DeviceIdentityTest : public ::testing::Test {
  protected:
    DeviceIdentityTest() : modems_(2) { session_.Bind(modems_.ComNumber(1)); }

    // The identity the simulator gives the modem at `position`, as the client reads it.
    DeviceIdentity Simulated(std::size_t position) {
        const modemsim::Serials serials = modems_.modem(position).serials();
        return DeviceIdentity{serials.imei, serials.iccid, serials.imsi};
    }

    SimModems modems_;
    StopSignal stop_;
    Session session_{stop_, Registry::Machine()};
};

TEST_F(DeviceIdentityTest, TwoModemsAreToldApartByTheirSerials) {
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(session_.Identity(), Simulated(1));
    EXPECT_EQ(session_.Identity().iccid.size(), 19u) << "read from the SIM file, padding dropped";
    Session other(stop_, Registry::Machine());
    other.Bind(modems_.ComNumber(2));
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(other.Identity(), Simulated(2));
    EXPECT_NE(other.Identity().imei, session_.Identity().imei);
    EXPECT_NE(other.Identity().iccid, session_.Identity().iccid);
}

TEST_F(DeviceIdentityTest, EachCommandIsAskedOncePerOpeningNotAtEveryInitialisation) {
    ASSERT_TRUE(session_.Open());
    ASSERT_TRUE(session_.Open());
    ASSERT_TRUE(session_.Open());
    const std::string written = modems_.Written(1);
    EXPECT_EQ(Count(written, "AT+CGSN\r"), 1u);
    EXPECT_EQ(Count(written, "AT+CRSM="), 1u);
    EXPECT_EQ(Count(written, "AT+CIMI\r"), 1u);
    EXPECT_EQ(Count(written, "AT+CCID"), 0u) << "the SIM file gave the ICCID";
    session_.Close();
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CGSN\r"), 2u) << "read again at a new opening";
}

TEST_F(DeviceIdentityTest, TheMakersOwnCommandIsAskedFirst) {
    modems_.Control("fault 1 maker huawei");
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(session_.Identity(), Simulated(1)) << "the nibble-swapped answer swapped back";
    const std::string written = modems_.Written(1);
    EXPECT_EQ(Count(written, "AT^ICCID?\r"), 1u);
    EXPECT_EQ(Count(written, "AT+CRSM"), 0u);
}

TEST_F(DeviceIdentityTest, ARefusedCommandCostsOneErrorAndTheNextFormIsTried) {
    modems_.Control("fault 1 maker quectel");
    modems_.Control("fault 1 error AT+QCCID");
    ASSERT_TRUE(session_.Open());
    modems_.Control("fault 1 error AT+CRSM");
    session_.Close();
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(session_.Identity(), Simulated(1)) << "AT+CCID at last";
    session_.Close();
    ASSERT_TRUE(session_.Open());
    const std::string written = modems_.Written(1);
    EXPECT_EQ(Count(written, "AT+QCCID\r"), 1u) << "refused once, never asked again";
    EXPECT_EQ(Count(written, "AT+CRSM="), 2u) << "answered at the first opening";
    EXPECT_EQ(Count(written, "AT+CCID\r"), 2u);
}

TEST_F(DeviceIdentityTest, AModemThatGivesNoIdentityIsStillReady) {
    // One command refused at each opening: the session remembers the earlier
    // refusals, so that at the last opening every form has been refused.
    for (const char* command : {"AT+CGSN", "AT+GSN", "AT+CRSM", "AT+CCID", "AT+CIMI"}) {
        modems_.Control(std::string("fault 1 error ") + command);
        session_.Close();
        EXPECT_TRUE(session_.Open()) << command;
    }
    EXPECT_EQ(session_.Identity(), DeviceIdentity{});
    EXPECT_EQ(session_.Status().state, ModemState::Ready);
}

TEST_F(DeviceIdentityTest, TheSimsIdentityIsReadOnceItsPinIsGiven) {
    modems_.Control("fault 1 pin 1234");
    EXPECT_FALSE(session_.Open());
    EXPECT_EQ(session_.Identity().imei, Simulated(1).imei) << "the modem names itself anyway";
    EXPECT_EQ(session_.Identity().iccid, "");
    session_.GivePin("1234");
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(session_.Identity(), Simulated(1));
    EXPECT_EQ(Count(modems_.Written(1), "AT+CRSM="), 1u) << "asked once the SIM was ready";
}

// What a pool does when a modem is unplugged and comes back on another port: the
// session on the new port finds the modem and SIM it knew.
TEST_F(DeviceIdentityTest, AModemPluggedBackUnderAnotherNameIsRecognised) {
    ASSERT_TRUE(session_.Open());
    const DeviceIdentity before = session_.Identity();
    const std::uint16_t old_number = modems_.ComNumber(1);
    modems_.Control("replug 1");
    session_.Close();
    EXPECT_FALSE(session_.Open());
    EXPECT_EQ(session_.Status().state, ModemState::PortMissing);
    ASSERT_NE(modems_.ComNumber(1), old_number);
    session_.Bind(modems_.ComNumber(1));
    ASSERT_TRUE(session_.Open());
    EXPECT_EQ(session_.Identity(), before);
}

// ---- What a pool needs of the virtual modems ----

TEST(ModemPoolTest, SixteenModemsEachPassAMessageToTheNext) {
    constexpr std::size_t kModems = 16;
    SimModems modems(kModems);
    StopSignal stop;
    for (std::size_t i = 1; i <= kModems; ++i) {
        Session session(stop, Registry::Machine());
        session.Bind(modems.ComNumber(i));
        ASSERT_TRUE(session.Open()) << i;
        const std::string to = modemsim::DefaultNumbers(kModems)[i % kModems];
        SendPosition position;
        EXPECT_EQ(session.Send(MakePacket(to, "07.12.2026 10:00:00", "from " + std::to_string(i)),
                               position, DeliveryReports::Off, {}),
                  SendResult::Sent)
            << i;
    }
    for (std::size_t i = 1; i <= kModems; ++i) EXPECT_EQ(modems.Store(i).size(), 1u) << i;
}

// The network's time for a send holds back that modem's confirmation alone: the
// other modem's thread, and the network, serve on meanwhile.
TEST(ModemPoolTest, ASlowNetworkOnOneModemDoesNotHoldBackAnother) {
    SimModems modems(2);
    modems.Control("fault 1 confirm-delay 600000");
    StopSignal stop_slow, stop;
    Session slow(stop_slow, Registry::Machine()), fast(stop, Registry::Machine());
    slow.Bind(modems.ComNumber(1));
    fast.Bind(modems.ComNumber(2));
    ASSERT_TRUE(slow.Open());
    ASSERT_TRUE(fast.Open());
    std::atomic<bool> slow_done{false};
    SendResult slow_result = SendResult::Sent;  // the sender thread's, read after its join
    std::thread sender([&] {
        SendPosition position;
        slow_result = slow.Send(MakePacket("+79990000002", "07.12.2026 10:00:00", "slow"), position,
                                DeliveryReports::Off, {});
        slow_done = true;
    });
    ASSERT_TRUE(testing::Eventually([&] { return modems.Store(2).size() == 1; }))
        << "the slow send reached the network before its confirmation";
    SendPosition position;
    EXPECT_EQ(fast.Send(MakePacket("+79990000001", "07.12.2026 10:00:00", "fast"), position,
                        DeliveryReports::Off, {}),
              SendResult::Sent);
    EXPECT_EQ(modems.Store(1).size(), 1u);
    EXPECT_FALSE(slow_done) << "its confirmation is still due";
    stop_slow.Set();
    sender.join();
    EXPECT_EQ(slow_result, SendResult::Failed) << "ended by its stop, never confirmed";
}

TEST(ModemPoolTest, ASimBlockedAfterItsLimitRefusesEverySendUntilTheCountIsReset) {
    SimModems modems(2);
    modems.Control("fault 1 send-limit 1");
    StopSignal stop;
    Session session(stop, Registry::Machine());
    session.Bind(modems.ComNumber(1));
    ASSERT_TRUE(session.Open());
    const auto send = [&session] {
        SendPosition position;
        return session.Send(MakePacket("+79990000002", "07.12.2026 10:00:00", "limited"), position,
                            DeliveryReports::Off, {});
    };
    EXPECT_EQ(send(), SendResult::Sent);
    EXPECT_EQ(send(), SendResult::Failed);
    EXPECT_EQ(session.Refusal(), "+CMS ERROR: 21");
    EXPECT_EQ(send(), SendResult::Failed);
    EXPECT_EQ(modems.Control("sends 1"), "1\n");
    modems.Control("sends 1 reset");
    EXPECT_EQ(send(), SendResult::Sent);
    EXPECT_EQ(modems.Store(2).size(), 2u);
}

// A modem with two ports is one modem: a pool that finds a session on each must
// see the same serials, and not count the modem twice.
TEST(ModemPoolTest, BothPortsOfOneModemGiveTheSameIdentity) {
    SimModems modems(2, 20, {true, false});
    StopSignal stop;
    Session first(stop, Registry::Machine()), second(stop, Registry::Machine()),
        other(stop, Registry::Machine());
    first.Bind(modems.ComNumber(1, 0));
    second.Bind(modems.ComNumber(1, 1));
    other.Bind(modems.ComNumber(2));
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(first.Identity(), second.Identity());
    EXPECT_NE(first.Identity().imei, "");
    EXPECT_NE(first.Identity(), other.Identity());
}

}  // namespace
}  // namespace velka::modem
