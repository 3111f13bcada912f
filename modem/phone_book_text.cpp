#include "modem/phone_book_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>

#include "modem/dialogue.h"
#include "modem/phone_book.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr std::array<Charset, 4> kPreference = {Charset::Ucs2, Charset::Hex, Charset::Gsm,
                                                Charset::Ira};

// The alpha forms of TS 31.102, annex A.
constexpr std::uint8_t kUcs2Form = 0x80;
constexpr std::uint8_t kHalfPageForm = 0x81;
constexpr std::uint8_t kFullBaseForm = 0x82;
constexpr std::uint8_t kPadding = 0xFF;
constexpr char16_t kReplacement = u'\uFFFD';

std::uint8_t Octet(std::string_view octets, std::size_t at) {
    return static_cast<std::uint8_t>(octets[at]);
}

std::optional<std::string> OctetsOfHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string octets;
    octets.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        octets += static_cast<char>(value);
    }
    return octets;
}

// UTF-16 big endian up to the padding a SIM record leaves.
std::u16string Ucs2Units(std::string_view octets) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < octets.size(); i += 2) {
        const auto unit = static_cast<char16_t>(Octet(octets, i) << 8 | Octet(octets, i + 1));
        if (unit == 0xFFFF) break;
        text += unit;
    }
    return text;
}

// The default alphabet, one octet a character, up to the padding; an octet with
// bit 8 set has no character there.
std::u16string GsmCharacters(std::string_view octets) {
    std::u16string text;
    std::string run;  // septets read together, so that an escape keeps its code
    for (const char octet : octets) {
        const auto value = static_cast<std::uint8_t>(octet);
        if (value == kPadding) break;
        if (value < 0x80) {
            run += octet;
            continue;
        }
        text += GsmToUnicode(std::exchange(run, {}));
        text += kReplacement;
    }
    return text + GsmToUnicode(run);
}

// The 0x81 and 0x82 forms: `count` characters from `first`, each the base plus
// its lower seven bits or a character of the default alphabet.
std::optional<std::u16string> BasedCharacters(std::string_view octets, std::size_t first,
                                              std::size_t count, char16_t base) {
    if (octets.size() < first + count) return std::nullopt;
    std::u16string text;
    std::string run;
    for (const char octet : octets.substr(first, count)) {
        const auto value = static_cast<std::uint8_t>(octet);
        if (value < 0x80) {
            run += octet;
            continue;
        }
        text += GsmToUnicode(std::exchange(run, {}));
        text += static_cast<char16_t>(base + (value & 0x7F));
    }
    return text + GsmToUnicode(run);
}

std::optional<std::u16string> SimAlphaUnits(std::string_view octets) {
    if (octets.empty()) return std::u16string();
    switch (Octet(octets, 0)) {
        case kUcs2Form:
            return Ucs2Units(octets.substr(1));
        case kHalfPageForm:
            if (octets.size() < 3) return std::nullopt;
            return BasedCharacters(octets, 3, Octet(octets, 1),
                                   static_cast<char16_t>(Octet(octets, 2) << 7));
        case kFullBaseForm:
            if (octets.size() < 4) return std::nullopt;
            return BasedCharacters(octets, 4, Octet(octets, 1),
                                   static_cast<char16_t>(Octet(octets, 2) << 8 | Octet(octets, 3)));
        default:
            return GsmCharacters(octets);
    }
}

// Whether a UCS2 answer is the SIM's record passed through rather than converted:
// an odd count of octets after 0x80 (UTF-16 has an even one), or 0x81 or 0x82 with a
// count that matches the length exactly; either with the record's 0xFF padding or
// without it, as modems differ in passing it on. An ordinary name beginning with
// U+81xx or U+82xx whose second octet equals the rest's length would read wrongly;
// such a name is a run of rare CJK ideographs of one exact length.
bool IsPassedThroughRecord(std::string_view octets) {
    if (octets.empty()) return false;
    const std::size_t padded = octets.size();
    const std::size_t unpadded = octets.find_last_not_of(static_cast<char>(kPadding)) + 1;
    const auto either = [&](auto fits) { return fits(padded) || fits(unpadded); };
    const std::uint8_t count = octets.size() > 1 ? Octet(octets, 1) : 0;
    switch (Octet(octets, 0)) {
        case kUcs2Form:
            return either([](std::size_t size) { return size % 2 == 1; });
        case kHalfPageForm:
            return either([&](std::size_t size) { return size >= 3 && count == size - 3; });
        case kFullBaseForm:
            return either([&](std::size_t size) { return size >= 4 && count == size - 4; });
        default:
            return false;
    }
}

std::optional<std::u16string> Ucs2Name(std::string_view field) {
    const auto octets = OctetsOfHex(field);
    if (!octets) return std::nullopt;
    if (IsPassedThroughRecord(*octets)) return SimAlphaUnits(*octets);
    if (octets->size() % 2 != 0) return std::nullopt;
    return Ucs2Units(*octets);
}

std::u16string IraName(std::string_view field) {
    std::u16string text;
    for (const char c : field) {
        const auto value = static_cast<std::uint8_t>(c);
        text += value < 0x80 ? static_cast<char16_t>(value) : kReplacement;
    }
    return text;
}

// What follows "<prefix>:" when the line starts with it, letter case ignored.
std::optional<std::string_view> AfterPrefix(std::string_view line, std::string_view prefix) {
    line = TrimBlanks(line);
    if (!codepage::StartsWithIgnoreCase(line, prefix) || line.size() <= prefix.size() ||
        line[prefix.size()] != ':')
        return std::nullopt;
    return TrimBlanks(line.substr(prefix.size() + 1));
}

// Whether `after` (not empty) is a comma and then a number.
bool StartsANumber(std::string_view after) {
    const std::string_view next = TrimBlanks(after.substr(1));
    return after.front() == ',' && !next.empty() &&
           std::isdigit(static_cast<unsigned char>(next.front())) != 0;
}

// Reads the fields of an answer line from left to right.
class FieldCursor {
  public:
    explicit FieldCursor(std::string_view text) : rest_(text) {}

    // A field up to the next comma, blanks trimmed.
    std::string_view Plain() {
        const std::size_t comma = rest_.find(',');
        const std::string_view field = rest_.substr(0, comma);
        rest_ = comma == std::string_view::npos ? std::string_view() : rest_.substr(comma + 1);
        return TrimBlanks(field);
    }
    // A quoted field. A name in GSM or IRA may hold quotes and commas itself, so
    // its closing quote is the first one that ends the line or is followed by a
    // comma and a number: what 27.007 puts after a quoted field of these answers
    // (a type, a count, the "hidden" flag after a name).
    std::optional<std::string_view> Quoted() {
        rest_ = TrimBlanks(rest_);
        if (rest_.empty() || rest_.front() != '"') return std::nullopt;
        for (std::size_t at = rest_.find('"', 1); at != std::string_view::npos;
             at = rest_.find('"', at + 1)) {
            const std::string_view after = TrimBlanks(rest_.substr(at + 1));
            if (!after.empty() && !StartsANumber(after)) continue;
            const std::string_view field = rest_.substr(1, at - 1);
            rest_ = after.empty() ? after : after.substr(1);
            return field;
        }
        return std::nullopt;
    }

  private:
    std::string_view rest_;
};

}  // namespace

std::string_view CharsetName(Charset charset) {
    switch (charset) {
        case Charset::Ucs2:
            return "UCS2";
        case Charset::Gsm:
            return "GSM";
        case Charset::Ira:
            return "IRA";
        case Charset::Hex:
            return "HEX";
    }
    return "IRA";
}

std::optional<Charset> CharsetNamed(std::string_view name) {
    name = TrimBlanks(name);
    for (const Charset charset : kPreference) {
        if (codepage::EqualIgnoreCase(name, CharsetName(charset))) return charset;
    }
    return std::nullopt;
}

std::vector<std::string> OfferedCharsets(std::string_view line) {
    std::vector<std::string> names;
    const auto list = AfterPrefix(line, "+CSCS");
    if (!list) return names;
    std::string name;
    bool quoted = false;
    for (const char c : *list) {
        if (c == '"') {
            if (quoted) names.push_back(std::exchange(name, {}));
            quoted = !quoted;
        } else if (quoted) {
            name += c;
        }
    }
    // Some firmware answers AT+CSCS? with the name unquoted ("+CSCS: GSM").
    if (names.empty() && !list->empty() && list->front() != '(') names.emplace_back(*list);
    return names;
}

std::vector<Charset> ByPreference(const std::vector<std::string>& offered) {
    std::vector<Charset> known;
    for (const Charset charset : kPreference) {
        const bool found =
            std::any_of(offered.begin(), offered.end(),
                        [&](const std::string& name) { return CharsetNamed(name) == charset; });
        if (found) known.push_back(charset);
    }
    return known;
}

std::optional<std::string> DecodeSimAlpha(std::string_view octets) {
    const auto units = SimAlphaUnits(octets);
    if (!units) return std::nullopt;
    return codepage::Utf16ToUtf8(*units);
}

std::optional<std::string> DecodeName(std::string_view field, Charset charset) {
    std::optional<std::u16string> units;
    switch (charset) {
        case Charset::Ucs2:
            units = Ucs2Name(field);
            break;
        case Charset::Gsm:
            units = GsmCharacters(field);
            break;
        case Charset::Ira:
            units = IraName(field);
            break;
        case Charset::Hex:
            if (const auto octets = OctetsOfHex(field)) units = SimAlphaUnits(*octets);
            break;
    }
    if (!units) return std::nullopt;
    return codepage::Utf16ToUtf8(*units);
}

std::string NumberWithType(std::string_view number, int type) {
    // The type of number is bits 7..5 of the octet; 001 is international.
    constexpr int kTypeOfNumber = 0x70;
    constexpr int kInternational = 0x10;
    const bool international = (type & kTypeOfNumber) == kInternational;
    if (!international || number.starts_with('+')) return std::string(number);
    return '+' + std::string(number);
}

std::string PhoneBookEntry::Dialled() const {
    return NumberWithType(number, type);
}

std::optional<PhoneBookStorage> ParseStorageLine(std::string_view line) {
    const auto fields = AfterPrefix(line, "+CPBS");
    if (!fields) return std::nullopt;
    FieldCursor cursor(*fields);
    const auto storage = cursor.Quoted();
    if (!storage || storage->empty()) return std::nullopt;
    PhoneBookStorage parsed{std::string(*storage)};
    const auto used = AnswerNumber(cursor.Plain());
    const auto total = AnswerNumber(cursor.Plain());
    if (used && total) {
        parsed.used = *used;
        parsed.total = *total;
    }
    return parsed;
}

std::optional<PhoneBookRange> ParseRangeLine(std::string_view line) {
    const auto fields = AfterPrefix(line, "+CPBR");
    if (!fields || fields->empty() || fields->front() != '(') return std::nullopt;
    const std::size_t close = fields->find(')');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view range = fields->substr(1, close - 1);
    const std::size_t dash = range.find('-');
    PhoneBookRange parsed;
    const auto first = AnswerNumber(range.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : AnswerNumber(range.substr(dash + 1));
    if (!first || !last || *first < 0 || *last < *first) return std::nullopt;
    parsed.first = *first;
    parsed.last = *last;
    FieldCursor cursor(fields->substr(close + 1));
    cursor.Plain();  // what stood between the bracket and the first comma: nothing
    parsed.number_length = AnswerNumber(cursor.Plain()).value_or(-1);
    parsed.name_length = AnswerNumber(cursor.Plain()).value_or(-1);
    return parsed;
}

std::optional<RawPhoneBookEntry> ParseEntryLine(std::string_view line) {
    const auto fields = AfterPrefix(line, "+CPBR");
    if (!fields) return std::nullopt;
    FieldCursor cursor(*fields);
    const auto index = AnswerNumber(cursor.Plain());
    const auto number = cursor.Quoted();
    const auto type = AnswerNumber(cursor.Plain());
    const auto name = cursor.Quoted();
    if (!index || !number || !type || !name) return std::nullopt;
    return RawPhoneBookEntry{*index, std::string(*number), *type, std::string(*name)};
}

}  // namespace velka::modem
