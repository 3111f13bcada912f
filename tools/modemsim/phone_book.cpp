#include "tools/modemsim/phone_book.h"

#include <algorithm>
#include <optional>

namespace velka::modemsim {
namespace {

constexpr std::uint8_t kUcs2Form = 0x80;
constexpr std::uint8_t kHalfPageForm = 0x81;
constexpr char32_t kHalfPageLimit = 0x8000;  // the form's base has 15 bits

// The 0x81 form when every character outside the alphabet lies on one half page.
std::optional<Octets> HalfPageRecord(const std::u32string& text) {
    std::optional<char32_t> page;
    Octets body;
    for (const char32_t ch : text) {
        if (const auto septets = GsmSeptets(std::u32string(1, ch))) {
            body.insert(body.end(), septets->begin(), septets->end());
            continue;
        }
        if (ch >= kHalfPageLimit || (page && *page != ch >> 7)) return std::nullopt;
        page = ch >> 7;
        body.push_back(static_cast<std::uint8_t>(0x80 | (ch & 0x7F)));
    }
    if (!page) return std::nullopt;
    Octets record{kHalfPageForm, static_cast<std::uint8_t>(body.size()),
                  static_cast<std::uint8_t>(*page)};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

std::string Ucs2Hex(const std::u32string& text) {
    Octets octets;
    for (const char16_t unit : Utf16Units(text)) {
        octets.push_back(static_cast<std::uint8_t>(unit >> 8));
        octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return ToHex(octets);
}

// One octet a character of the alphabet, "?" for one it lacks.
std::string GsmOctets(const std::u32string& text) {
    std::string out;
    for (const char32_t ch : text) {
        const auto septets = GsmSeptets(std::u32string(1, ch));
        if (!septets) {
            out += '?';
            continue;
        }
        for (const std::uint8_t septet : *septets) out += static_cast<char>(septet);
    }
    return out;
}

std::string Ascii(const std::u32string& text) {
    std::string out;
    for (const char32_t ch : text) out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
}

}  // namespace

PhoneBook::PhoneBook() {
    Put({1, "+79161234567",
         "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xD0\x9F\xD0\xB5\xD1\x82\xD1\x80"
         "\xD0\xBE\xD0\xB2"});  // Иван Петров
    Put({2, "89031234567", "Maria [work]"});
    Put({5, "0500", "Service \xE2\x82\xAC"});  // the euro sign, of the extension table
}

bool PhoneBook::Put(const PhoneBookEntry& entry) {
    const bool fits = entry.index >= 1 && entry.index <= kCapacity && !entry.number.empty() &&
                      entry.number.size() <= static_cast<std::size_t>(kNumberLength) &&
                      SimRecord(entry.name).size() <= static_cast<std::size_t>(kNameLength);
    if (!fits) return false;
    const auto at = std::lower_bound(
        entries_.begin(), entries_.end(), entry.index,
        [](const PhoneBookEntry& stored, int index) { return stored.index < index; });
    if (at != entries_.end() && at->index == entry.index) {
        *at = entry;
    } else {
        entries_.insert(at, entry);
    }
    return true;
}

Octets SimRecord(std::string_view name) {
    const std::u32string text = DecodeUtf8(name);
    if (auto septets = GsmSeptets(text)) return std::move(*septets);
    if (auto record = HalfPageRecord(text)) return std::move(*record);
    Octets record{kUcs2Form};
    for (const char16_t unit : Utf16Units(text)) {
        record.push_back(static_cast<std::uint8_t>(unit >> 8));
        record.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return record;
}

std::string NameField(std::string_view name, NameCharset charset, bool records_in_ucs2) {
    const std::u32string text = DecodeUtf8(name);
    switch (charset) {
        case NameCharset::Ucs2: {
            const Octets record = SimRecord(name);
            const bool ucs2_form = !record.empty() && record.front() >= kUcs2Form;
            return records_in_ucs2 && ucs2_form ? ToHex(record) : Ucs2Hex(text);
        }
        case NameCharset::Gsm:
            return GsmOctets(text);
        case NameCharset::Ira:
            return Ascii(text);
        case NameCharset::Hex:
            return ToHex(SimRecord(name));
    }
    return Ascii(text);
}

std::string EntryLine(const PhoneBookEntry& entry, NameCharset charset, bool records_in_ucs2) {
    // The number without its "+", the type saying it is international, as most
    // modems write it.
    const bool international = entry.number.starts_with('+');
    const std::string digits = international ? entry.number.substr(1) : entry.number;
    return "+CPBR: " + std::to_string(entry.index) + ",\"" + digits + "\"," +
           (international ? "145" : "129") + ",\"" +
           NameField(entry.name, charset, records_in_ucs2) + "\"";
}

}  // namespace velka::modemsim
