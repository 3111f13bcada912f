// Planning a text into messages: the coding it calls for and where it is cut.
#include "sms/text_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

// Windows-1251 text as the plan takes it.
std::u16string U(std::string_view cp1251) {
    return codepage::ToUtf16(cp1251);
}

std::vector<std::size_t> Sizes(const TextPlan& plan) {
    std::vector<std::size_t> sizes;
    for (const auto& piece : plan.pieces) sizes.push_back(piece.size());
    return sizes;
}

TEST(TextPlanTest, SevenBitTextsSplitPast160IntoSegmentsOf153) {
    EXPECT_EQ(Sizes(PlanText(U(std::string(160, 'a')))), std::vector<std::size_t>{160});
    EXPECT_EQ(Sizes(PlanText(U(std::string(161, 'a')))), (std::vector<std::size_t>{153, 8}));
    EXPECT_EQ(Sizes(PlanText(U(std::string(306, 'a')))), (std::vector<std::size_t>{153, 153}));
    EXPECT_EQ(PlanText(U(std::string(306, 'a'))).coding, kCodingGsm7);
}

TEST(TextPlanTest, OneRussianLetterAnywhereMakesTheWholeTextUcs2) {
    const std::string text = std::string(70, 'a') + "\xFF";  // "я" last
    const TextPlan plan = PlanText(U(text));
    EXPECT_EQ(plan.coding, kCodingUcs2);
    EXPECT_EQ(Sizes(plan), (std::vector<std::size_t>{63, 8}));
    EXPECT_EQ(Sizes(PlanText(U(std::string(70, '\xC0')))), std::vector<std::size_t>{70});
}

// Ё, ё, « and » are not in the 7-bit alphabet: they went out as "?" in 7-bit.
TEST(TextPlanTest, SignsTheAlphabetLacksChooseUcs2) {
    EXPECT_EQ(PlanText(U("\xA8\xB8 \xAB\xBB")).coding, kCodingUcs2);   // Ё ё « »
    EXPECT_EQ(PlanText(U("Price: 5\x88 [net]")).coding, kCodingGsm7);  // € and [ ] are there
}

// The extension table's characters take two septets, and a segment is never cut
// between an escape and its code.
TEST(TextPlanTest, ExtensionCharactersCountTwoAndStayWhole) {
    EXPECT_EQ(PlanText(U(std::string(80, '\x88'))).pieces.size(), 1u);
    const TextPlan split = PlanText(U("a" + std::string(80, '[')));
    ASSERT_EQ(split.coding, kCodingGsm7);
    EXPECT_EQ(Sizes(split), (std::vector<std::size_t>{77, 4}))
        << "\"a\" and 76 brackets: 153 septets; the next bracket would need 155";
    const TextPlan odd = PlanText(U(std::string(152, 'a') + "[" + std::string(10, 'b')));
    EXPECT_EQ(Sizes(odd), (std::vector<std::size_t>{152, 11})) << "the bracket moves whole";
}

TEST(TextPlanTest, AnOutgoingTextCarriesTheSignatureInFront) {
    const TextPlan plan = PlanOutgoingText(u"Hi");
    ASSERT_EQ(plan.pieces.size(), 1u);
    EXPECT_EQ(plan.pieces[0], U(std::string(kSignature) + "Hi"));
    EXPECT_EQ(PlanOutgoingText(U(std::string(160 - kSignature.size() + 1, 'a'))).pieces.size(), 2u);
}

bool StartsWithSecondHalf(const std::u16string& piece) {
    return !piece.empty() && piece.front() >= 0xDC00 && piece.front() <= 0xDFFF;
}

// An emoji is two UCS2 units; wherever it falls, a segment boundary moves before it
// rather than between its halves, and nothing is lost or doubled.
TEST(TextPlanTest, ASurrogatePairIsNeverCutBetweenSegmentsWhereverItFalls) {
    for (const SegmentRoom room : {SegmentRoom::Designed, SegmentRoom::Full}) {
        for (std::size_t at = 0; at < 200; ++at) {
            const std::u16string text =
                std::u16string(at, u'\u0416') + u"\U0001F600" + std::u16string(200 - at, u'x');
            const TextPlan plan = PlanText(text, room);
            ASSERT_EQ(plan.coding, kCodingUcs2);
            std::u16string joined;
            for (const std::u16string& piece : plan.pieces) {
                EXPECT_FALSE(StartsWithSecondHalf(piece)) << "emoji at " << at;
                EXPECT_LE(piece.size(), MessageRoom(kCodingUcs2, true, room));
                joined += piece;
            }
            EXPECT_EQ(joined, text);
        }
    }
}

TEST(TextPlanTest, ATextWithAnEmojiGoesAsUcs2AndItsPairCountsTwo) {
    const TextPlan plan = PlanOutgoingText(u"ok \U0001F44D");
    EXPECT_EQ(plan.coding, kCodingUcs2);
    EXPECT_EQ(RoomTaken(u"\U0001F44D\U0001F44D", kCodingUcs2), 4u);
    // 68 units of Latin letters and one emoji: 70 units, still one message.
    EXPECT_EQ(PlanText(std::u16string(68, u'a') + u"\U0001F44D").pieces.size(), 1u);
    EXPECT_EQ(PlanText(std::u16string(69, u'a') + u"\U0001F44D").pieces.size(), 2u);
}

}  // namespace
}  // namespace velka
