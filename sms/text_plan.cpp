#include "sms/text_plan.h"

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

// What each character of the body costs of a message's room: a UCS2 unit, or its
// septets (two for the extension table's characters).
std::vector<std::size_t> Costs(std::string_view body, std::int32_t coding) {
    std::vector<std::size_t> costs(body.size(), 1);
    if (coding == kCodingGsm7) {
        for (std::size_t i = 0; i < body.size(); ++i)
            costs[i] = GsmSeptetsOf(codepage::ToUnicode(static_cast<unsigned char>(body[i])));
    }
    return costs;
}

}  // namespace

std::size_t MessageRoom(std::int32_t coding, bool segmented, SegmentRoom room) {
    const bool ucs2 = coding == kCodingUcs2;
    const std::size_t limit = ucs2 ? kUcs2Limit : kGsm7Limit;
    if (!segmented) return limit;
    return limit -
           (ucs2 && room == SegmentRoom::Full ? kUcs2HeaderCharacters : kConcatenationHeaderCost);
}

std::size_t RoomTaken(std::string_view piece, std::int32_t coding) {
    std::size_t taken = 0;
    for (const std::size_t cost : Costs(piece, coding)) taken += cost;
    return taken;
}

TextPlan PlanText(std::string_view body, SegmentRoom room) {
    TextPlan plan;
    plan.coding = DetectCoding(codepage::ToUtf16(body));
    const std::vector<std::size_t> costs = Costs(body, plan.coding);
    std::size_t total = 0;
    for (const std::size_t cost : costs) total += cost;
    if (total <= MessageRoom(plan.coding, false, room)) {
        plan.pieces.emplace_back(body);
        return plan;
    }
    // Segments fill up to the room the header leaves; a character of two septets
    // that does not fit goes whole into the next one.
    const std::size_t segment = MessageRoom(plan.coding, true, room);
    std::size_t start = 0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (used + costs[i] > segment) {
            plan.pieces.emplace_back(body.substr(start, i - start));
            start = i;
            used = 0;
        }
        used += costs[i];
    }
    plan.pieces.emplace_back(body.substr(start));
    return plan;
}

TextPlan PlanOutgoingText(std::string_view text, SegmentRoom room) {
    std::string body(kSignature);
    body += text;
    return PlanText(body, room);
}

}  // namespace velka
