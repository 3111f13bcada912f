#include "compose/text_price.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "compose/compose.h"
#include "platform/codepage.h"
#include "sms/smsbase.h"
#include "sms/text_plan.h"

namespace velka::compose {
namespace {

// Windows-1251 bytes of the typographic characters and what stands in for them.
struct LookAlike {
    unsigned char code;
    std::string_view stand_in;
};
constexpr LookAlike kLookAlikes[] = {
    {0xAB, "\""},  {0xBB, "\""},  {0x84, "\""}, {0x93, "\""},  {0x94, "\""},  {0x91, "'"},
    {0x92, "'"},   {0x82, "'"},   {0x8B, "<"},  {0x9B, ">"},   {0x96, "-"},   {0x97, "-"},
    {0xAD, ""},    {0xB9, "No"},  {0xA0, " "},  {0x85, "..."}, {0x95, "*"},   {0xB7, "."},
    {0xA9, "(c)"}, {0xAE, "(R)"}, {0x99, "TM"}, {0xB1, "+/-"}, {0xB0, "o"},   {0x60, "'"},
    {0xA6, "|"},   {0x86, "+"},   {0x89, "%o"}, {0xB6, "P"},   {0x88, "EUR"},
};

// ICAO Doc 9303 for the Russian alphabet, lower-case, from "а" (0xE0) to "я" (0xFF).
constexpr std::array<std::string_view, 32> kRussian = {
    "a", "b", "v", "g", "d", "e",  "zh", "z",  "i",  "i",    "k",  "l", "m", "n", "o",  "p",
    "r", "s", "t", "u", "f", "kh", "ts", "ch", "sh", "shch", "ie", "y", "",  "e", "iu", "ia"};

// The other Cyrillic letters of Windows-1251 by the general table of the same
// document: "ё", the Ukrainian, Belarusian, Serbian and Macedonian letters.
struct OtherLetter {
    unsigned char lower;
    unsigned char upper;
    std::string_view latin;
};
constexpr OtherLetter kOtherLetters[] = {
    {0xB8, 0xA8, "e"},  {0xB3, 0xB2, "i"}, {0xBF, 0xAF, "i"},  {0xBA, 0xAA, "ie"},
    {0xB4, 0xA5, "g"},  {0xA2, 0xA1, "u"}, {0xBC, 0xA3, "j"},  {0x9A, 0x8A, "lj"},
    {0x9C, 0x8C, "nj"}, {0x9E, 0x8E, "c"}, {0x9F, 0x8F, "dz"}, {0x90, 0x80, "d"},
    {0x83, 0x81, "g"},  {0x9D, 0x8D, "k"}, {0xBE, 0xBD, "dz"},
};

// A Cyrillic letter's Latin form in lower case, and whether the letter is a
// capital; nothing when the byte is no Cyrillic letter.
struct Latin {
    std::string_view lower;
    bool capital = false;
};
std::optional<Latin> LatinOf(unsigned char code) {
    if (code >= 0xC0) return Latin{kRussian[(code - 0xC0) % 32], code < 0xE0};
    for (const OtherLetter& letter : kOtherLetters) {
        if (code == letter.lower) return Latin{letter.latin, false};
        if (code == letter.upper) return Latin{letter.latin, true};
    }
    return std::nullopt;
}

bool IsCapital(unsigned char code) {
    if (const auto latin = LatinOf(code)) return latin->capital;
    return std::isupper(code) != 0;
}

// A capital in a word of capitals ("ЖУК") gives capitals throughout; another gives
// a capital first letter only ("Жук" "Zhuk").
bool InCapitalWord(std::string_view text, std::size_t at) {
    const auto capital_at = [&](std::size_t i) {
        return i < text.size() && IsCapital(static_cast<unsigned char>(text[i]));
    };
    return (at > 0 && capital_at(at - 1)) || capital_at(at + 1);
}

std::string Capitalised(std::string_view lower, bool whole) {
    std::string latin(lower);
    for (std::size_t i = 0; i < latin.size() && (whole || i == 0); ++i)
        latin[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(latin[i])));
    return latin;
}

}  // namespace

TextPrice PriceOf(std::string_view text, SegmentRoom room, std::u16string_view whole) {
    const TextPlan plan = PlanOutgoingText(OutgoingText(text, whole), room);
    TextPrice price;
    price.messages = plan.pieces.size();
    price.ucs2 = plan.coding == kCodingUcs2;
    const std::size_t room_of_last = MessageRoom(plan.coding, plan.pieces.size() > 1, room);
    const std::size_t taken = RoomTaken(plan.pieces.back(), plan.coding);
    price.room_left = taken < room_of_last ? room_of_last - taken : 0;
    return price;
}

std::string PriceLine(const TextPrice& price) {
    return codepage::FromUtf8(std::string(price.ucs2 ? "UCS2" : "7 бит") + ", ещё " +
                              std::to_string(price.room_left));
}

std::string SignatureLine() {
    std::string line = codepage::FromUtf8("Подпись: ");
    std::string_view rest = kSignature;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find("\r\n"), rest.size());
        if (line.back() != ' ') line += codepage::FromUtf8(" · ");
        line += rest.substr(0, end);
        rest.remove_prefix(std::min(end + 2, rest.size()));
    }
    return line;
}

bool ForcesUcs2(char16_t character) {
    return !InGsmAlphabet(character);
}

std::string WithLookAlikes(std::string_view text) {
    std::string replaced;
    replaced.reserve(text.size());
    for (const char character : text) {
        const auto code = static_cast<unsigned char>(character);
        const auto* look_alike = std::find_if(std::begin(kLookAlikes), std::end(kLookAlikes),
                                              [&](const LookAlike& l) { return l.code == code; });
        if (look_alike != std::end(kLookAlikes) &&
            ForcesUcs2(codepage::ToUnicode(static_cast<unsigned char>(character)))) {
            replaced += look_alike->stand_in;
        } else {
            replaced += character;
        }
    }
    return replaced;
}

std::string Transliterated(std::string_view text) {
    std::string latin;
    latin.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto letter = LatinOf(static_cast<unsigned char>(text[i]));
        if (!letter) {
            latin += text[i];
        } else if (letter->capital) {
            latin += Capitalised(letter->lower, InCapitalWord(text, i));
        } else {
            latin += letter->lower;
        }
    }
    return WithLookAlikes(latin);
}

}  // namespace velka::compose
