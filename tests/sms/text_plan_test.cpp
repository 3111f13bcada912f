// Planning a text into messages: the coding it calls for and where it is cut.
#include "sms/text_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "sms/smsbase.h"

namespace velka {
namespace {

std::vector<std::size_t> Sizes(const TextPlan& plan) {
    std::vector<std::size_t> sizes;
    for (const auto& piece : plan.pieces) sizes.push_back(piece.size());
    return sizes;
}

TEST(TextPlanTest, SevenBitTextsSplitPast160IntoSegmentsOf153) {
    EXPECT_EQ(Sizes(PlanText(std::string(160, 'a'))), std::vector<std::size_t>{160});
    EXPECT_EQ(Sizes(PlanText(std::string(161, 'a'))), (std::vector<std::size_t>{153, 8}));
    EXPECT_EQ(Sizes(PlanText(std::string(306, 'a'))), (std::vector<std::size_t>{153, 153}));
    EXPECT_EQ(PlanText(std::string(306, 'a')).coding, kCodingGsm7);
}

TEST(TextPlanTest, OneRussianLetterAnywhereMakesTheWholeTextUcs2) {
    const std::string text = std::string(70, 'a') + "\xFF";  // "я" last
    const TextPlan plan = PlanText(text);
    EXPECT_EQ(plan.coding, kCodingUcs2);
    EXPECT_EQ(Sizes(plan), (std::vector<std::size_t>{63, 8}));
    EXPECT_EQ(Sizes(PlanText(std::string(70, '\xC0'))), std::vector<std::size_t>{70});
}

// Ё, ё, « and » are not in the 7-bit alphabet: they went out as "?" in 7-bit.
TEST(TextPlanTest, SignsTheAlphabetLacksChooseUcs2) {
    EXPECT_EQ(PlanText("\xA8\xB8 \xAB\xBB").coding, kCodingUcs2);   // Ё ё « »
    EXPECT_EQ(PlanText("Price: 5\x88 [net]").coding, kCodingGsm7);  // € and [ ] are there
}

// The extension table's characters take two septets, and a segment is never cut
// between an escape and its code.
TEST(TextPlanTest, ExtensionCharactersCountTwoAndStayWhole) {
    EXPECT_EQ(PlanText(std::string(80, '\x88')).pieces.size(), 1u);
    const TextPlan split = PlanText("a" + std::string(80, '['));
    ASSERT_EQ(split.coding, kCodingGsm7);
    EXPECT_EQ(Sizes(split), (std::vector<std::size_t>{77, 4}))
        << "\"a\" and 76 brackets: 153 septets; the next bracket would need 155";
    const TextPlan odd = PlanText(std::string(152, 'a') + "[" + std::string(10, 'b'));
    EXPECT_EQ(Sizes(odd), (std::vector<std::size_t>{152, 11})) << "the bracket moves whole";
}

TEST(TextPlanTest, AnOutgoingTextCarriesTheSignatureInFront) {
    const TextPlan plan = PlanOutgoingText("Hi");
    ASSERT_EQ(plan.pieces.size(), 1u);
    EXPECT_EQ(plan.pieces[0], std::string(kSignature) + "Hi");
    EXPECT_EQ(PlanOutgoingText(std::string(160 - kSignature.size() + 1, 'a')).pieces.size(), 2u);
}

}  // namespace
}  // namespace velka
