#include "modem/ussd_coding.h"

#include <algorithm>
#include <array>

#include "modem/dialogue.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr std::string_view kResultPrefix = "+CUSD:";
constexpr char16_t kCarriageReturn = u'\r';

// The characters a person reads in an operator's answer: Latin and Russian
// letters, digits, the ASCII signs, line breaks, and the few typographic signs
// Russian texts use. A text made mostly of other characters (Greek capitals,
// accented letters, Chinese) is what hexadecimal read the wrong way gives.
bool IsExpected(char16_t c) {
    return (c >= 0x20 && c < 0x7F) || c == u'\n' || c == u'\r' || (c >= 0x0400 && c <= 0x04FF) ||
           (c >= 0x2010 && c <= 0x2026) || c == u'\u00AB' || c == u'\u00BB' || c == u'\u00A0' ||
           c == u'\u20AC' || c == u'\u2116';
}

// The share of a text's characters a person would expect; 0 for an empty text.
double Plausibility(std::u16string_view text) {
    if (text.empty()) return 0;
    const auto expected = std::count_if(text.begin(), text.end(), IsExpected);
    return static_cast<double>(expected) / static_cast<double>(text.size());
}

// Below this share of expected characters a hexadecimal reading is taken for a
// wrong one: a wrong reading of septets gives about two thirds of them.
constexpr double kLeastPlausible = 0.85;

// The characters as the modem wrote them: UTF-8 when they are that, else the
// Windows-1251 bytes a modem set to a Russian code page writes.
std::u16string AsCharacters(std::string_view text) {
    return codepage::IsValidUtf8(text) ? codepage::Utf8ToUtf16(text) : codepage::ToUtf16(text);
}

// Packed septets, less the carriage return that pads a text of 8n - 1 septets
// (TS 23.038, 6.1.2.3.1) and the zero fill of one sent without it.
std::u16string FromPacked(std::string_view hex) {
    std::string septets = UnpackSeptetCodes(codepage::Upper(hex));
    if (!septets.empty() && septets.size() % 8 == 0 && septets.back() == '\r') septets.pop_back();
    return GsmToUnicode(septets);
}

// One octet per septet, as modems set to the "HEX" character set write them; nothing
// when an octet is no septet.
std::optional<std::u16string> FromUnpacked(std::string_view hex) {
    const std::string octets = HexToBytes(hex);
    if (std::any_of(octets.begin(), octets.end(),
                    [](char c) { return static_cast<unsigned char>(c) > 0x7F; }))
        return std::nullopt;
    return GsmToUnicode(octets);
}

std::optional<std::u16string> FromUcs2(std::string_view hex) {
    if (hex.size() % 4 != 0) return std::nullopt;
    return HexToUcs2(hex);
}

// A 7-bit text in whichever form reads as words: UCS2, packed, then unpacked,
// the first of the most plausible; the characters as written when none is.
std::u16string FromGsm7(std::string_view text) {
    if (!IsPduLine(text)) return AsCharacters(text);
    const std::array<std::optional<std::u16string>, 3> readings = {FromUcs2(text), FromPacked(text),
                                                                   FromUnpacked(text)};
    const std::optional<std::u16string>* best = nullptr;
    double best_score = kLeastPlausible;
    for (const auto& reading : readings) {
        if (!reading) continue;
        const double score = Plausibility(*reading);
        if (score >= best_score && (best == nullptr || score > best_score)) {
            best = &reading;
            best_score = score;
        }
    }
    return best != nullptr ? **best : AsCharacters(text);
}

// 8-bit data: what the octets hold, read as characters.
std::u16string FromData8(std::string_view text) {
    return IsPduLine(text) ? AsCharacters(HexToBytes(text)) : AsCharacters(text);
}

// UCS2 with its language first: two septets packed into two octets, then UCS2.
std::u16string FromUcs2(std::string_view text, bool language_first) {
    constexpr std::size_t kLanguageDigits = 4;
    if (!IsPduLine(text)) return AsCharacters(text);
    if (language_first && text.size() >= kLanguageDigits) text.remove_prefix(kLanguageDigits);
    return FromUcs2(text).value_or(AsCharacters(text));
}

// Scheme 0x10: two letters of ISO 639 and a carriage return before the text.
void DropLanguage(std::u16string& text) {
    if (text.size() >= 3 && (text[2] == kCarriageReturn || text[2] == u'\n')) text.erase(0, 3);
}

// CR LF and a lone CR as "\n"; the breaks and padding at the end left out.
std::u16string WithLineBreaks(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != kCarriageReturn) {
            out += text[i];
        } else if (i + 1 >= text.size() || text[i + 1] != u'\n') {
            out += u'\n';
        }
    }
    while (!out.empty() && out.back() == u'\n') out.pop_back();
    return out;
}

// The fields after <m>: a quoted <str> runs to the last quote, so that quotes
// inside a text survive; an unquoted one to the comma before a numeric <dcs>.
void ReadTextAndCoding(std::string_view rest, UssdResult& result) {
    rest = TrimBlanks(rest);
    if (rest.starts_with('"')) {
        const std::size_t close = rest.rfind('"');
        const std::size_t end = close == 0 ? rest.size() : close;
        result.text = std::string(rest.substr(1, end - 1));
        const std::string_view after = end < rest.size() ? rest.substr(end + 1) : "";
        if (const std::size_t comma = after.find(','); comma != std::string_view::npos)
            result.coding = AnswerNumber(after.substr(comma + 1));
        return;
    }
    const std::size_t comma = rest.rfind(',');
    if (comma != std::string_view::npos && AnswerNumber(rest.substr(comma + 1))) {
        result.coding = AnswerNumber(rest.substr(comma + 1));
        rest = rest.substr(0, comma);
    }
    result.text = std::string(TrimBlanks(rest));
}

}  // namespace

UssdCoding ReadUssdCoding(int scheme) {
    const auto octet = static_cast<unsigned>(scheme) & 0xFF;
    const unsigned group = octet >> 4;
    if (octet == 0x10) return {UssdAlphabet::Gsm7, true};
    if (octet == 0x11) return {UssdAlphabet::Ucs2, true};
    // 01xx: general coding, bit 5 compressed, bits 3-2 the alphabet; 1001: the same
    // bits for a message with a header.
    if ((group & 0xC) == 0x4 || group == 0x9) {
        if (group != 0x9 && (octet & 0x20) != 0) return {UssdAlphabet::Compressed, false};
        switch ((octet >> 2) & 0x3) {
            case 1:
                return {UssdAlphabet::Data8, false};
            case 2:
                return {UssdAlphabet::Ucs2, false};
            default:
                return {UssdAlphabet::Gsm7, false};
        }
    }
    if (group == 0xE) return {UssdAlphabet::Data8, false};  // defined by WAP: its own octets
    if (group == 0xF && (octet & 0x04) != 0) return {UssdAlphabet::Data8, false};
    // 0000 languages, 0001 and 0010-0011 further languages and reserved ones, 1111
    // with bit 2 clear, and every reserved group: the default alphabet.
    return {UssdAlphabet::Gsm7, false};
}

bool IsUssdResult(std::string_view line) {
    return codepage::StartsWithIgnoreCase(TrimBlanks(line), kResultPrefix);
}

bool UssdResultComplete(std::string_view text) {
    return std::count(text.begin(), text.end(), '"') % 2 == 0;
}

std::optional<UssdResult> ParseUssdResult(std::string_view text) {
    text = TrimBlanks(text);
    if (!IsUssdResult(text)) return std::nullopt;
    text.remove_prefix(kResultPrefix.size());
    const std::size_t comma = text.find(',');
    UssdResult result;
    const auto status = AnswerNumber(text.substr(0, comma));
    if (!status) return std::nullopt;
    result.status = *status;
    if (comma != std::string_view::npos) ReadTextAndCoding(text.substr(comma + 1), result);
    return result;
}

std::optional<std::u16string> DecodeUssdText(std::string_view text, std::optional<int> scheme) {
    const UssdCoding coding = scheme ? ReadUssdCoding(*scheme) : UssdCoding{};
    std::u16string decoded;
    switch (coding.alphabet) {
        case UssdAlphabet::Compressed:
            return std::nullopt;
        case UssdAlphabet::Data8:
            decoded = FromData8(text);
            break;
        case UssdAlphabet::Ucs2:
            decoded = FromUcs2(text, coding.language_first);
            break;
        case UssdAlphabet::Gsm7:
            decoded = FromGsm7(text);
            if (coding.language_first) DropLanguage(decoded);
            break;
    }
    return WithLineBreaks(decoded);
}

UssdRequestForm RequestFormFor(std::string_view manufacturer) {
    return codepage::Upper(manufacturer).find("HUAWEI") != std::string::npos
               ? UssdRequestForm::Packed
               : UssdRequestForm::Text;
}

std::optional<std::string> EncodeUssdRequest(std::u16string_view request, UssdRequestForm form) {
    if (request.empty()) return std::nullopt;
    if (form == UssdRequestForm::Text) {
        const bool plain = std::all_of(request.begin(), request.end(), [](char16_t c) {
            return c >= 0x20 && c < 0x7F && c != u'"';
        });
        if (!plain) return std::nullopt;
        return std::string(request.begin(), request.end());
    }
    if (!std::all_of(request.begin(), request.end(), InGsmAlphabet)) return std::nullopt;
    std::string septets = UnicodeToGsm(request);
    // TS 23.038, 6.1.2.3.1: the seven spare bits after 8n - 1 septets hold a
    // carriage return, not zeros that would read as "@"; a text that ends in one on
    // an octet boundary gets a second.
    if (septets.size() % 8 == 7 || (septets.size() % 8 == 0 && septets.back() == '\r'))
        septets += '\r';
    return PackSeptets(septets);
}

}  // namespace velka::modem
