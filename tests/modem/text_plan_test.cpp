// The pure parts of the dialogue: segment headers, the message reference counter,
// reading a listing and the concatenation header of a received part.
#include <gtest/gtest.h>

#include <string>

#include "modem/concatenation.h"
#include "modem/inbox_sink.h"
#include "modem/receive.h"
#include "modem/send.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "sms/smsbase.h"
#include "tests/support/temp_dir.h"

namespace velka::modem {
namespace {

// The codec refuses user data beyond one SMS; every piece the plan makes must fit,
// whatever the length of the body and its coding, emoji included.
TEST(TextPlanTest, EveryPieceEncodesAsOneSms) {
    const std::u16string signature = codepage::ToUtf16(kSignature);
    for (const std::u16string_view letter : {u"a", u"\u0410", u"\U0001F600"}) {
        for (std::size_t length = 0; length <= 1100; ++length) {
            std::u16string body = signature;
            for (std::size_t i = 0; i < length; ++i) body += letter;
            const TextPlan plan = PlanText(body);
            for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
                TSMS sms;
                sms.Whole = plan.pieces[i];
                sms.Number = "+79161234567";
                sms.Coding = plan.coding;
                if (plan.pieces.size() > 1)
                    sms.UDH = SegmentHeader("7F", plan.pieces.size(), i + 1);
                ASSERT_FALSE(sms.EncodeSubmit().empty()) << "piece " << i + 1 << " of a body of "
                                                         << length << " letters " << letter.size();
            }
        }
    }
}

TEST(TextPlanTest, SegmentHeadersCarryReferenceCountAndNumber) {
    EXPECT_EQ(SegmentHeader("7F", 2, 1), "0500037F0201");
    EXPECT_EQ(SegmentHeader("01", 11, 10), "050003010B0A");
}

class MessageReferenceTest : public ::testing::Test {
  protected:
    std::uint32_t Stored() {
        return *registry_.ReadDWord(std::string(kReferenceKey), "MessageRef");
    }
    void Store(std::uint32_t value) {
        ASSERT_TRUE(registry_.WriteDWord(std::string(kReferenceKey), "MessageRef", value));
    }
    velka::testing::TempDir dir_;
    Registry registry_{dir_.File("registry.db")};
};

TEST_F(MessageReferenceTest, CountsUpAndWrapsFrom255To1) {
    Store(41);
    EXPECT_EQ(NextMessageReference(registry_), "2A");
    EXPECT_EQ(NextMessageReference(registry_), "2B");
    EXPECT_EQ(Stored(), 43u);
    Store(254);
    EXPECT_EQ(NextMessageReference(registry_), "FF");
    EXPECT_EQ(NextMessageReference(registry_), "01");
    EXPECT_EQ(Stored(), 1u);
}

TEST_F(MessageReferenceTest, ValuesOutOfRangeRestartAt1) {
    for (const std::uint32_t bad : {0u, 255u, 300u, 0xFFFFFFFFu}) {
        Store(bad);
        EXPECT_EQ(NextMessageReference(registry_), "01") << bad;
        EXPECT_EQ(Stored(), 1u);
    }
}

TEST_F(MessageReferenceTest, AMissingValueStartsAtARandomReferenceThatIsStored) {
    const std::string first = NextMessageReference(registry_);
    const std::uint32_t value = std::stoul(first, nullptr, 16);
    EXPECT_GE(value, 2u);
    EXPECT_LE(value, 253u);
    EXPECT_EQ(Stored(), value);
}

// ---- Listings ----

// "Hi" from +79161234567, 06.12.2026 20:52:41.
constexpr const char* kHi = "07919700000000F0040B919761214365F700006221600225142102C834";

TEST(ListingTest, TakesEachHeadersIndexAndItsPdu) {
    const auto messages = ParseListing({"+CMGL: 1,0,,21", kHi, "+CMGL: 12,1,\"Mum\",21", kHi});
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].index, "1");
    EXPECT_EQ(messages[1].index, "12");
    EXPECT_EQ(messages[1].pdu, kHi);
}

// Indexes from 0, as some modems count, an empty quoted alpha field and blanks
// after the commas, as others write the header.
TEST(ListingTest, ReadsHeadersAsTheModemsWriteThem) {
    const auto messages = ParseListing(
        {"+CMGL: 0,1,\"\",21", kHi, "+CMGL: 1, 0, \"\", 21", kHi, "+CMGL: 2,0,21", kHi});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].index, "0");
    EXPECT_EQ(messages[1].index, "1");
    EXPECT_EQ(messages[2].index, "2") << "a header without its alpha field";
}

TEST(ListingTest, PassesOverUnsolicitedLinesAndNoiseBetweenHeaderAndPdu) {
    const auto messages =
        ParseListing({"+CMGL: 3,0,,21", "^RSSI:17", "+CMTI: \"SM\",4", "RING", "ABCD", kHi});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].index, "3");
    EXPECT_EQ(messages[0].pdu, kHi) << "a short hexadecimal line does not fit the header";
}

TEST(ListingTest, AHeaderWithoutItsPduIsLeftOut) {
    const auto messages = ParseListing({"+CMGL: 1,0,,21", "^BOOT:1,0", "+CMGL: 2,0,,21", kHi});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].index, "2");
    EXPECT_TRUE(ParseListing({"+CMGL: 5,0,,21"}).empty());
}

TEST(ListingTest, AHeaderWithABadIndexIsLeftOut) {
    EXPECT_TRUE(ParseListing({"+CMGL: x1,0,,21", kHi}).empty());
    EXPECT_TRUE(ParseListing({"+CMGL: ,0,,21", kHi}).empty());
}

TEST(ListingTest, LowerCaseAnswersAreReadAsUpperCase) {
    std::string lower = kHi;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto messages = ParseListing({"+cmgl: 7,0,,21", lower});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].pdu, kHi);
}

TEST(InboxRecordTest, FillsSenderDateAndText) {
    const packet record = MakeReceivedRecord(kHi).record;
    EXPECT_EQ(record.state, kPacketStored);
    EXPECT_EQ(record.number_text(), "+79161234567");
    EXPECT_EQ(record.datetime_text(), "06.12.2026 20:52:41");
    EXPECT_EQ(record.text_text(), "Hi");
}

// ---- Concatenation headers ----

TEST(ConcatenationTest, ReadsEightAndSixteenBitReferences) {
    EXPECT_EQ(ReadConcatenation("0500032A0302"), (store::PartFacts{0x2A, 8, 3, 2}));
    EXPECT_EQ(ReadConcatenation("060804BEEF0201"), (store::PartFacts{0xBEEF, 16, 2, 1}));
}

TEST(ConcatenationTest, FindsTheElementAmongOthers) {
    // A port-addressing element (05, four octets) before the concatenation element.
    EXPECT_EQ(ReadConcatenation("0B05040B8423F00003110201"), (store::PartFacts{0x11, 8, 2, 1}));
}

TEST(ConcatenationTest, HeadersWithoutAUsableElementGiveNothing) {
    EXPECT_FALSE(ReadConcatenation(""));
    EXPECT_FALSE(ReadConcatenation("0A"));              // cut short
    EXPECT_FALSE(ReadConcatenation("05040B8423F0"));    // ports only
    EXPECT_FALSE(ReadConcatenation("0500032A0003"));    // no parts
    EXPECT_FALSE(ReadConcatenation("0500032A0300"));    // part 0
    EXPECT_FALSE(ReadConcatenation("0500032A0204"));    // part beyond the total
    EXPECT_FALSE(ReadConcatenation("0500042A030201"));  // wrong element length
    EXPECT_FALSE(ReadConcatenation("0500032A03"));      // element beyond the header
    EXPECT_FALSE(ReadConcatenation("05XX032A0302"));    // not hexadecimal
}

TEST(ConcatenationTest, APduWithoutAHeaderHasNone) {
    EXPECT_FALSE(ConcatenationOf(kHi));
}

}  // namespace
}  // namespace velka::modem
