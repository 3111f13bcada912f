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

TEST(TextPlanTest, YoAndOtherSignsBelowTheRussianLettersStaySevenBit) {
    EXPECT_EQ(PlanText("\xA8\xB8 \xAB\xBB").coding, kCodingGsm7);  // Ё ё « »
}

TEST(TextPlanTest, AnOutgoingTextCarriesTheSignatureInFront) {
    const TextPlan plan = PlanOutgoingText("Hi");
    ASSERT_EQ(plan.pieces.size(), 1u);
    EXPECT_EQ(plan.pieces[0], std::string(kSignature) + "Hi");
    EXPECT_EQ(PlanOutgoingText(std::string(160 - kSignature.size() + 1, 'a')).pieces.size(), 2u);
}

}  // namespace
}  // namespace velka
