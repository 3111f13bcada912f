// The compose counter against what the network carries: for every length a message
// may have, the number the counter shows is the number of SMS-SUBMIT PDUs the send
// path builds, each of which the virtual modem's own decoder accepts as one message
// within the network's 140 octets, and together they carry the signature and text.
// A sample of lengths is also sent for real and counted at the receiving modem.
#include <gtest/gtest.h>

#include <atomic>

#include "compose/compose.h"
#include "modem/send.h"
#include "modem/session.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/stop_signal.h"
#include "sms/text_plan.h"
#include "store/packet.h"
#include "tests/modem/sim_fixture.h"
#include "tools/modemsim/pdu.h"

namespace velka::modem {
namespace {

constexpr const char* kSecond = "+79990000002";
constexpr std::size_t kMaxUserDataOctets = 140;
constexpr std::size_t kMaxSeptets = 160;

// Texts of `length` characters drawn from the 7-bit alphabet or from Russian letters,
// blanks and punctuation (characters outside the extension table, which the codec
// sends as look-alikes).
std::string LatinText(std::size_t length) {
    static constexpr std::string_view kPattern = "Hello, world! 0123456789 ok? ";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += kPattern[i % kPattern.size()];
    return text;
}
std::string RussianText(std::size_t length) {
    static const std::string pattern = codepage::FromUtf8("Съешь ещё этих мягких булок. ");
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += pattern[i % pattern.size()];
    return text;
}

// Characters of other scripts and beyond the basic plane, which Windows-1251 lacks:
// Greek, Chinese, Arabic and emoji, `length` characters (an emoji two UCS2 units).
std::u16string WorldText(std::size_t length) {
    static const std::vector<std::u16string> pattern = {u"\u0393", u"\u03B5", u"\u4F60",
                                                        u"\u597D", u" ",      u"\U0001F600",
                                                        u"\u0645", u"\u0631", u"!"};
    std::u16string text;
    for (std::size_t i = 0; i < length; ++i) text += pattern[i % pattern.size()];
    return text;
}
std::u16string U(std::string_view cp1251) {
    return codepage::ToUtf16(cp1251);
}

// The octets a message's user data takes on the network.
std::size_t UserDataOctets(const modemsim::UserData& data) {
    const bool seven_bit = (data.coding & 0x0C) == 0;
    return seven_bit ? (data.length * 7 + 7) / 8 : data.length;
}

// What the network would carry for `text`, checked by the simulator's decoder: the
// number of messages, each within one message's room, the texts joined in order.
void ExpectCounterMatchesThePdus(std::u16string_view typed,
                                 SegmentRoom room = SegmentRoom::Designed) {
    const compose::TypedText kept = compose::KeptFormOf(typed);
    const std::string& text = kept.text;
    const std::vector<std::string> pdus = SubmitPdus(PlanOutgoingText(typed, room), kSecond, "2A");
    ASSERT_EQ(compose::MessageCount(text, room, kept.whole), pdus.size())
        << text.size() << " characters";
    std::string carried;
    for (const std::string& pdu : pdus) {
        const auto submit = modemsim::ParseSubmit(pdu, static_cast<int>(pdu.size() / 2 - 1));
        ASSERT_TRUE(submit) << submit.error().message;
        EXPECT_LE(UserDataOctets(submit->data), kMaxUserDataOctets) << text.size();
        if ((submit->data.coding & 0x0C) == 0) {
            EXPECT_LE(submit->data.length, kMaxSeptets);
        }
        EXPECT_EQ(submit->data.has_header, pdus.size() > 1);
        carried += modemsim::UserDataText(submit->data);
    }
    EXPECT_EQ(carried, codepage::Utf16ToUtf8(U(kSignature) + std::u16string(typed))) << text.size();
}

TEST(CounterAgainstTheNetwork, EveryLengthFrom1To1024CountsTheMessagesThatGoOut) {
    for (std::size_t length = 1; length <= compose::kMaxMessageLength; ++length) {
        ExpectCounterMatchesThePdus(U(LatinText(length)));
        ExpectCounterMatchesThePdus(U(RussianText(length)));
        ExpectCounterMatchesThePdus(U(RussianText(length)), SegmentRoom::Full);
        ExpectCounterMatchesThePdus(WorldText(length));
        ExpectCounterMatchesThePdus(WorldText(length), SegmentRoom::Full);
        if (::testing::Test::HasFailure()) return;  // one length tells the story
    }
}

// The denser parts fill every UCS2 segment to the network's 140 octets, and leave
// a 7-bit text as it was.
TEST(CounterAgainstTheNetwork, FullPartsTakeSixtySevenCharactersAndLeave7BitAlone) {
    const std::string russian = RussianText(230);  // with the signature, 268 characters
    EXPECT_EQ(compose::MessageCount(russian), 5u);
    EXPECT_EQ(compose::MessageCount(russian, SegmentRoom::Full), 4u);
    const TextPlan full = PlanOutgoingText(U(russian), SegmentRoom::Full);
    for (std::size_t i = 0; i + 1 < full.pieces.size(); ++i) EXPECT_EQ(full.pieces[i].size(), 67u);
    for (const std::size_t length : {std::size_t{200}, std::size_t{1024}}) {
        const std::string latin = LatinText(length);
        EXPECT_EQ(PlanOutgoingText(U(latin), SegmentRoom::Full).pieces,
                  PlanOutgoingText(U(latin)).pieces);
    }
}

class CounterSendTest : public ::testing::Test {
  protected:
    CounterSendTest() : modems_(2, 100) { session_.Bind(modems_.ComNumber(1)); }

    // Sends `text` and gives how many messages the second modem received.
    std::size_t MessagesReceivedFor(const std::string& text,
                                    SegmentRoom room = SegmentRoom::Designed) {
        const std::size_t before = modems_.Store(2).size();
        const packet record = MakePacket(kSecond, "07.12.2026 10:00:00", text);
        SendPosition position;
        position.room = room;
        EXPECT_EQ(session_.Send(record, position, DeliveryReports::Off, {}), SendResult::Sent);
        return modems_.Store(2).size() - before;
    }

    testing::SimModems modems_;
    StopSignal stop_;
    Session session_{stop_, Registry::Machine()};
};

TEST_F(CounterSendTest, TheReceivingModemGetsAsManyMessagesAsTheCounterShows) {
    ASSERT_TRUE(session_.Open());
    const std::size_t signature = kSignature.size();
    for (const std::size_t length : {std::size_t{1}, 160 - signature, 161 - signature,
                                     306 - signature, 307 - signature, std::size_t{1024}}) {
        const std::string text = LatinText(length);
        EXPECT_EQ(MessagesReceivedFor(text), compose::MessageCount(text)) << length;
    }
    for (const std::size_t length :
         {std::size_t{69}, 70 - signature, 71 - signature, std::size_t{1024}}) {
        const std::string text = RussianText(length);
        EXPECT_EQ(MessagesReceivedFor(text), compose::MessageCount(text)) << length;
        EXPECT_EQ(MessagesReceivedFor(text, SegmentRoom::Full),
                  compose::MessageCount(text, SegmentRoom::Full))
            << length;
    }
}

}  // namespace
}  // namespace velka::modem
