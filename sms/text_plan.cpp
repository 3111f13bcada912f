#include "sms/text_plan.h"

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// What each unit of the body costs of a message's room: its septets in 7-bit (two
// for the extension table's characters); in UCS2 one, except that a surrogate pair
// costs its two on its first half and nothing on its second, so that a cut before
// the second half never happens.
std::vector<std::size_t> Costs(std::u16string_view body, std::int32_t coding) {
    std::vector<std::size_t> costs(body.size(), 1);
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (coding == kCodingGsm7) {
            costs[i] = GsmSeptetsOf(body[i]);
        } else if (IsHighSurrogate(body[i]) && i + 1 < body.size() && IsLowSurrogate(body[i + 1])) {
            costs[i] = 2;
            costs[++i] = 0;
        }
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

std::size_t RoomTaken(std::u16string_view piece, std::int32_t coding) {
    std::size_t taken = 0;
    for (const std::size_t cost : Costs(piece, coding)) taken += cost;
    return taken;
}

TextPlan PlanText(std::u16string_view body, SegmentRoom room) {
    TextPlan plan;
    plan.coding = DetectCoding(body);
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

TextPlan PlanOutgoingText(std::u16string_view text, SegmentRoom room) {
    std::u16string body = codepage::ToUtf16(kSignature);
    body += text;
    return PlanText(body, room);
}

}  // namespace velka
