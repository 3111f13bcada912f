#include "tools/modemsim/ussd.h"

#include <iterator>

namespace velka::modemsim {
namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr int kSchemeGsm7 = 0x0F;          // default alphabet, language unspecified
constexpr int kSchemeUcs2 = 0x48;          // general coding, UCS2
constexpr int kSchemeGsm7Language = 0x10;  // default alphabet, the language first
constexpr int kSchemeUcs2Language = 0x11;  // UCS2, the language first in two octets
constexpr int kSchemeData8 = 0x44;         // general coding, 8-bit data
constexpr std::string_view kLanguage = "ru";

// The script, by place: a code, or a code and the replies that led into its menu.
struct Scripted {
    std::string_view place;
    int status;
    std::string_view text;
};
constexpr Scripted kScript[] = {
    {"*100#", 0, "Баланс: 57,10 р."},
    {"*101#", 0, "Balance 99.00 RUB"},
    {"*102#", 0, "Ваш баланс -5 руб"},
    {"*112#", 0, "Balance 99.00 RUB\nValid till 31.12.2026"},
    {"*111#", 1, "Меню:\n1 Баланс\n2 Тарифы"},
    {"*111#/1", 0, "Баланс: 57,10 р."},
    {"*111#/2", 1, "Тарифы:\n1 Базовый\n2 Безлимит"},
    {"*111#/2/1", 0, "Тариф «Базовый» подключён"},
    {"*111#/2/2", 0, "Тариф «Безлимит» подключён"},
};
constexpr std::string_view kSilentCode = "*999#";
constexpr std::string_view kWrongChoice = "Неверный выбор";

Octets Bytes(std::string_view text) {
    return Octets(text.begin(), text.end());
}

Octets Ucs2Octets(std::string_view utf8) {
    Octets out;
    for (const char16_t unit : Utf16Units(DecodeUtf8(utf8))) {
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return out;
}

// TS 23.038, 6.1.2.3.1: 8n - 1 septets leave seven spare bits, which hold a
// carriage return so that they do not read as "@".
Octets PackedUssd(Octets septets) {
    if (septets.size() % 8 == 7) septets.push_back(kCarriageReturn);
    return PackSeptets(septets);
}

// <str> and <dcs> of a 7-bit text `septets` whose characters are `text`.
std::pair<std::string, int> Gsm7Result(std::string text, Octets septets, bool language,
                                       UssdForm form) {
    if (language) {
        const Octets prefix = *GsmSeptets(DecodeUtf8(std::string(kLanguage) + "\r"));
        septets.insert(septets.begin(), prefix.begin(), prefix.end());
        text = std::string(kLanguage) + "\r" + text;
    }
    const int scheme = language ? kSchemeGsm7Language : kSchemeGsm7;
    switch (form) {
        case UssdForm::Text:
            return {text, scheme};
        case UssdForm::Packed:
            return {ToHex(PackedUssd(septets)), scheme};
        case UssdForm::Unpacked:
            return {ToHex(septets), scheme};
        case UssdForm::Ucs2:
            break;
    }
    return {ToHex(Ucs2Octets(text)), scheme};
}

std::pair<std::string, int> Ucs2Result(const std::string& text, bool language) {
    if (!language) return {ToHex(Ucs2Octets(text)), kSchemeUcs2};
    Octets octets = PackSeptets(*GsmSeptets(DecodeUtf8(kLanguage)));
    const Octets units = Ucs2Octets(text);
    octets.insert(octets.end(), units.begin(), units.end());
    return {ToHex(octets), kSchemeUcs2Language};
}

}  // namespace

std::optional<UssdStep> UssdService::Answer(const std::string& request) {
    if (menu_.empty() && request == kSilentCode) return std::nullopt;
    const std::string place = menu_.empty() ? request : menu_ + "/" + request;
    for (const Scripted& scripted : kScript) {
        if (scripted.place != place) continue;
        menu_ = scripted.status == 1 ? place : "";
        return UssdStep{scripted.status, std::string(scripted.text)};
    }
    if (!menu_.empty()) return UssdStep{1, std::string(kWrongChoice)};
    return UssdStep{4, ""};
}

std::optional<std::string> UssdRequestText(std::string_view str, UssdRequestForm form) {
    if (form == UssdRequestForm::Text) return std::string(str);
    const auto octets = FromHex(str);
    if (!octets || octets->empty()) return std::nullopt;
    Octets septets = UnpackSeptets(*octets, octets->size() * 8 / 7);
    // The spare bits of a whole group: the carriage return that pads it, or zeros.
    if (septets.size() % 8 == 0 && (septets.back() == kCarriageReturn || septets.back() == 0))
        septets.pop_back();
    return SeptetsText(septets);
}

std::string UssdResultLine(const UssdStep& step, UssdCoding coding, UssdForm form) {
    const std::string head = "+CUSD: " + std::to_string(step.status);
    if (step.text.empty()) return head;
    std::pair<std::string, int> result;
    const auto septets = GsmSeptets(DecodeUtf8(step.text));
    if (coding == UssdCoding::Data8) {
        result = {ToHex(Bytes(step.text)), kSchemeData8};
    } else if (septets) {
        result = Gsm7Result(step.text, *septets, coding == UssdCoding::Language, form);
    } else {
        result = Ucs2Result(step.text, coding == UssdCoding::Language);
    }
    return head + ",\"" + result.first + "\"," + std::to_string(result.second);
}

}  // namespace velka::modemsim
