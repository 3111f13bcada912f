#include "sms/text_plan.h"

#include "sms/smsbase.h"

namespace velka {
namespace {

bool ChoosesUcs2(std::string_view body) {
    for (const char c : body) {
        if (static_cast<unsigned char>(c) >= 0xC0) return true;
    }
    return false;
}

}  // namespace

TextPlan PlanText(std::string_view body) {
    TextPlan plan;
    plan.coding = ChoosesUcs2(body) ? kCodingUcs2 : kCodingGsm7;
    const std::size_t limit = plan.coding == kCodingUcs2 ? kUcs2Limit : kGsm7Limit;
    if (body.size() <= limit) {
        plan.pieces.emplace_back(body);
        return plan;
    }
    const std::size_t segment = limit - kConcatenationHeaderCost;
    for (std::size_t at = 0; at < body.size(); at += segment) {
        plan.pieces.emplace_back(body.substr(at, segment));
    }
    return plan;
}

TextPlan PlanOutgoingText(std::string_view text) {
    std::string body(kSignature);
    body += text;
    return PlanText(body);
}

}  // namespace velka
