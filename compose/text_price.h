// What a text costs and how to make it cheaper: the compose window's account of
// the price beside the designed counter. The coding, the parts and the room left
// in the last one come from the send path's own plan (sms/text_plan.h), so the
// account is what the network carries. Pure functions; any thread.
//
// Texts are Windows-1251, line breaks CR LF, as the stored text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sms/text_plan.h"

namespace velka::compose {

struct TextPrice {
    std::size_t messages = 0;
    bool ucs2 = false;
    // How many more characters the last message takes before another is needed
    // (septets in 7-bit: an extension-table character takes two).
    std::size_t room_left = 0;
};

// The price of sending `text`, the signature in front included, cut as `room` says.
// `whole` as for OutgoingText (compose/compose.h).
TextPrice PriceOf(std::string_view text, SegmentRoom room = SegmentRoom::Designed,
                  std::u16string_view whole = {});

// "UCS2, ещё 31": the coding and the room left in the last part, beside the counter.
std::string PriceLine(const TextPrice& price);

// "Подпись: Velka SMS · https://...": the signature the send puts in front
// of every text, on one line.
std::string SignatureLine();

// True when the character alone makes a text go as UCS2: one the 7-bit alphabet
// lacks, among them every half of a surrogate pair.
bool ForcesUcs2(char16_t character);

// The text with typographic characters that force UCS2 replaced by 7-bit
// look-alikes: quotes, dashes, "№", the non-breaking space, the ellipsis, bullets,
// "©", "®", "™". Letters are left as they are.
std::string WithLookAlikes(std::string_view text);

// The text in Latin letters: the Cyrillic letters of Windows-1251 transliterated
// by the table of ICAO Doc 9303 (the one Russian passports use: "Щ" "Shch",
// "Ю" "Iu", "Ъ" "Ie", "Ь" dropped), the rest as WithLookAlikes leaves it. A capital
// gives a capital only as its first letter ("Ж" "Zh"), unless the word around it is
// in capitals ("ЖУК" "ZHUK").
std::string Transliterated(std::string_view text);

}  // namespace velka::compose
