// compose/: the non-window half of the compose window: the recipient list text,
// the message counter, the reading of the recipient text at sending, and the
// records a finished message becomes. Standard C++ over store/ and sms/ only; the
// window (compose_form.*) wires its controls to these. Pure functions; any thread.
//
// All texts are Windows-1251.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "sms/text_plan.h"
#include "store/packet.h"

namespace velka::compose {

// The most characters a message text may have: the text field of a record.
inline constexpr std::size_t kMaxMessageLength = kMaxTextLength;

// ---- The counter ----

// A text as it goes out: `whole`, the text as typed, where the Windows-1251 `text`
// lost characters the code page lacks (one "?" each); else `text`. Every function
// here that takes both follows this rule.
std::u16string OutgoingText(std::string_view text, std::u16string_view whole);

// A typed text (UTF-16, line breaks as CR LF) as it is kept: in Windows-1251 for
// the record, and whole beside it where the code page lacks some of its characters.
struct TypedText {
    std::string text;
    std::u16string whole;  // empty when `text` holds every character
};
TypedText KeptFormOf(std::u16string_view typed);

// How many messages the text goes out as: the signature that sending puts in front
// counts, so this is what the network carries (the plan of sms/text_plan.h), cut
// as `room` says.
std::size_t MessageCount(std::string_view text, SegmentRoom room = SegmentRoom::Designed,
                         std::u16string_view whole = {});

// "Сообщений: N  Знаков: L", two blanks before "Знаков"; L counts the characters
// of `text`, where a character beyond the code page is one "?".
std::string CounterText(std::string_view text, SegmentRoom room = SegmentRoom::Designed,
                        std::u16string_view whole = {});

// What the counter shows before the text first changes: "Сообщений: 0".
std::string InitialCounterText();

// ---- The recipient list text ----

// Appends `number` to the comma-joined list, unless it occurs anywhere inside the
// list already: the test is a plain substring search, so a number that is part of
// one present (the same number without its country prefix) is not added either.
void AddRecipient(std::string& list, std::string_view number);

// The items of a comma text: items are separated by commas, by characters 1..32
// (blanks and control characters) or both; a double-quoted item runs to its closing
// quote, a doubled quote inside standing for one; two commas with nothing between
// them give an empty item, and so does a comma that ends the text.
std::vector<std::string> SplitCommaText(std::string_view text);

// ---- Checking recipients ----

enum class RecipientProblem {
    Empty,       // an empty item: two commas together, or a comma at the end
    NotANumber,  // anything but digits after an optional leading "+"
    TooLong,     // more digits than an address of a message can carry (kMaxRecipientDigits)
};

// The most digits a recipient's number may have: what the address of a message
// carries (kMaxAddressDigits of the codec).
inline constexpr std::size_t kMaxRecipientDigits = 20;

struct RejectedRecipient {
    std::string item;
    RecipientProblem problem;
    bool operator==(const RejectedRecipient&) const = default;
};

struct RecipientCheck {
    std::vector<std::string> sendable;  // in the order given
    std::vector<RejectedRecipient> rejected;
};

// Sorts the items into those a message can be sent to and those it never can.
RecipientCheck CheckRecipients(const std::vector<std::string>& items);

// The warning that names the items left out and why, one line each.
std::string RejectionWarning(const std::vector<RejectedRecipient>& rejected);

// ---- The records ----

// The record queued for one recipient: marked stored, the number, the date and
// time `when` in the program's text form, and the whole text (each cut to its field).
packet MakeOutgoingRecord(std::string_view number, const DateTime& when, std::string_view text);

}  // namespace velka::compose
