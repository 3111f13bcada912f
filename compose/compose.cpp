#include "compose/compose.h"

#include <optional>

#include "platform/codepage.h"
#include "sms/smsbase.h"
#include "sms/text_plan.h"

namespace velka::compose {
namespace {

// Blanks and control characters: what separates items besides commas.
bool IsSeparatorBlank(char ch) {
    const auto code = static_cast<unsigned char>(ch);
    return code >= 1 && code <= 32;
}

// A parsing position in a comma text; `at` may reach the end.
struct Cursor {
    std::string_view text;
    std::size_t at = 0;

    bool AtEnd() const { return at >= text.size(); }
    char Peek() const { return text[at]; }
    void SkipBlanks() {
        while (!AtEnd() && IsSeparatorBlank(Peek())) ++at;
    }
};

// The quoted item at the cursor (which stands on the opening quote), a doubled
// quote inside standing for one; without a closing quote the item runs to the end.
std::string TakeQuotedItem(Cursor& cursor) {
    std::string item;
    ++cursor.at;
    while (!cursor.AtEnd()) {
        const char ch = cursor.Peek();
        ++cursor.at;
        if (ch != '"') {
            item += ch;
        } else if (!cursor.AtEnd() && cursor.Peek() == '"') {
            item += '"';
            ++cursor.at;
        } else {
            break;
        }
    }
    return item;
}

std::string TakePlainItem(Cursor& cursor) {
    const std::size_t start = cursor.at;
    while (!cursor.AtEnd() && cursor.Peek() != ',' && !IsSeparatorBlank(cursor.Peek())) ++cursor.at;
    return std::string(cursor.text.substr(start, cursor.at - start));
}

std::string ProblemText(RecipientProblem problem) {
    switch (problem) {
        case RecipientProblem::Empty:
            return "пустой номер";
        case RecipientProblem::NotANumber:
            return "не номер телефона: допустимы только цифры и \"+\" в начале";
        case RecipientProblem::TooLong:
            return "в номере больше " + std::to_string(kMaxAddressDigits) + " цифр";
    }
    return {};
}

static_assert(kMaxRecipientDigits == kMaxAddressDigits);

std::optional<RecipientProblem> ProblemOf(std::string_view item) {
    if (item.empty()) return RecipientProblem::Empty;
    switch (TSMS::CheckAddress(item)) {
        case AddressProblem::NotDigits:
            return RecipientProblem::NotANumber;
        case AddressProblem::TooLong:
            return RecipientProblem::TooLong;
        case AddressProblem::None:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::u16string OutgoingText(std::string_view text, std::u16string_view whole) {
    return whole.empty() ? codepage::ToUtf16(text) : std::u16string(whole);
}

TypedText KeptFormOf(std::u16string_view typed) {
    TypedText kept{codepage::FromUtf16(typed), {}};
    if (codepage::ToUtf16(kept.text) != typed) kept.whole = typed;
    return kept;
}

std::size_t MessageCount(std::string_view text, SegmentRoom room, std::u16string_view whole) {
    return PlanOutgoingText(OutgoingText(text, whole), room).pieces.size();
}

std::string CounterText(std::string_view text, SegmentRoom room, std::u16string_view whole) {
    return codepage::FromUtf8("Сообщений: " + std::to_string(MessageCount(text, room, whole)) +
                              "  Знаков: " + std::to_string(text.size()));
}

std::string InitialCounterText() {
    return codepage::FromUtf8("Сообщений: 0");
}

void AddRecipient(std::string& list, std::string_view number) {
    if (list.find(number) != std::string::npos) return;
    if (!list.empty()) list += ',';
    list += number;
}

std::vector<std::string> SplitCommaText(std::string_view text) {
    std::vector<std::string> items;
    Cursor cursor{text};
    cursor.SkipBlanks();
    while (!cursor.AtEnd()) {
        items.push_back(cursor.Peek() == '"' ? TakeQuotedItem(cursor) : TakePlainItem(cursor));
        cursor.SkipBlanks();
        if (!cursor.AtEnd() && cursor.Peek() == ',') {
            if (cursor.at + 1 == text.size()) items.emplace_back();
            ++cursor.at;
            cursor.SkipBlanks();
        }
    }
    return items;
}

RecipientCheck CheckRecipients(const std::vector<std::string>& items) {
    RecipientCheck check;
    for (const std::string& item : items) {
        if (const auto problem = ProblemOf(item)) {
            check.rejected.push_back({item, *problem});
        } else {
            check.sendable.push_back(item);
        }
    }
    return check;
}

std::string RejectionWarning(const std::vector<RejectedRecipient>& rejected) {
    std::string text = "Сообщение не будет отправлено этим получателям:";
    for (const RejectedRecipient& recipient : rejected) {
        text += "\n\"" + codepage::ToUtf8(recipient.item) + "\": " + ProblemText(recipient.problem);
    }
    return codepage::FromUtf8(text);
}

packet MakeOutgoingRecord(std::string_view number, const DateTime& when, std::string_view text) {
    return MakePacket(number, FormatDateTime(when), text);
}

}  // namespace velka::compose
