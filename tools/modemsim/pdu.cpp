#include "tools/modemsim/pdu.h"

#include <algorithm>
#include <array>
#include <ctime>

namespace velka::modemsim {
namespace {

// The GSM 7-bit default alphabet of 3GPP TS 23.038, by septet value; 0x1B escapes
// to the extension table below and is marked with U+FFFF.
constexpr std::array<char16_t, 128> kGsmAlphabet = {
    u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
    u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',
    u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
    u'\u03A3', u'\u0398', u'\u039E', u'\uFFFF', u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',
    u' ',      u'!',      u'"',      u'#',      u'\u00A4', u'%',      u'&',      u'\'',
    u'(',      u')',      u'*',      u'+',      u',',      u'-',      u'.',      u'/',
    u'0',      u'1',      u'2',      u'3',      u'4',      u'5',      u'6',      u'7',
    u'8',      u'9',      u':',      u';',      u'<',      u'=',      u'>',      u'?',
    u'\u00A1', u'A',      u'B',      u'C',      u'D',      u'E',      u'F',      u'G',
    u'H',      u'I',      u'J',      u'K',      u'L',      u'M',      u'N',      u'O',
    u'P',      u'Q',      u'R',      u'S',      u'T',      u'U',      u'V',      u'W',
    u'X',      u'Y',      u'Z',      u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',
    u'\u00BF', u'a',      u'b',      u'c',      u'd',      u'e',      u'f',      u'g',
    u'h',      u'i',      u'j',      u'k',      u'l',      u'm',      u'n',      u'o',
    u'p',      u'q',      u'r',      u's',      u't',      u'u',      u'v',      u'w',
    u'x',      u'y',      u'z',      u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',
};
constexpr std::uint8_t kEscape = 0x1B;

// The extension table of the same standard: characters reached through the escape.
struct Extension {
    std::uint8_t septet;
    char16_t ch;
};
constexpr std::array<Extension, 10> kGsmExtension = {{
    {0x0A, u'\f'},
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, u'\u20AC'},
}};

// Single-message limits and the cost of a six-octet concatenation header.
constexpr std::size_t kSeptetsPerMessage = 160;
constexpr std::size_t kSeptetsPerSegment = 153;
constexpr std::size_t kUcs2UnitsPerMessage = 70;
constexpr std::size_t kUcs2UnitsPerSegment = 67;

enum class Alphabet { Gsm7, Data8, Ucs2 };

Alphabet AlphabetOf(std::uint8_t coding) {
    if ((coding & 0xC0) == 0x00 || (coding & 0xC0) == 0x40) {
        switch ((coding >> 2) & 3) {
            case 1:
                return Alphabet::Data8;
            case 2:
                return Alphabet::Ucs2;
            default:
                return Alphabet::Gsm7;
        }
    }
    if ((coding & 0xF0) == 0xF0) return (coding & 0x04) != 0 ? Alphabet::Data8 : Alphabet::Gsm7;
    if ((coding & 0xF0) == 0xE0) return Alphabet::Ucs2;
    return Alphabet::Gsm7;
}

std::size_t HeaderOctets(const UserData& data) {
    return data.has_header && !data.octets.empty() ? data.octets[0] + 1u : 0u;
}

// Septets that a header of `octets` octets occupies, fill bits included.
std::size_t HeaderSeptets(std::size_t octets) {
    return (octets * 8 + 6) / 7;
}

std::size_t UserDataOctets(std::uint8_t coding, std::uint8_t length) {
    return AlphabetOf(coding) == Alphabet::Gsm7 ? (length * 7u + 7) / 8 : length;
}

// Reads a PDU field by field; every read past the end fails the whole parse.
class Cursor {
  public:
    explicit Cursor(const Octets& octets) : octets_(octets) {}
    bool Take(std::uint8_t& out) {
        if (pos_ >= octets_.size()) return false;
        out = octets_[pos_++];
        return true;
    }
    bool Take(std::size_t count, Octets& out) {
        if (octets_.size() - pos_ < count) return false;
        out.assign(octets_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   octets_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
        pos_ += count;
        return true;
    }
    std::size_t left() const { return octets_.size() - pos_; }

  private:
    const Octets& octets_;
    std::size_t pos_ = 0;
};

Error Bad(const std::string& what) {
    return Error{"the PDU " + what, 0};
}

// Semi-octet digits, low nibble first; F pads an odd count.
std::string SemiOctetDigits(const Octets& octets, std::size_t digits) {
    static constexpr char kDigits[] = "0123456789*#abc";
    std::string out;
    for (std::size_t i = 0; i < digits; ++i) {
        const std::uint8_t nibble = (octets[i / 2] >> (i % 2 == 0 ? 0 : 4)) & 0x0F;
        out += nibble < 15 ? kDigits[nibble] : '?';
    }
    return out;
}

Octets SemiOctets(std::string_view digits) {
    Octets out((digits.size() + 1) / 2, 0xFF);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const std::uint8_t nibble = static_cast<std::uint8_t>(digits[i] - '0') & 0x0F;
        std::uint8_t& octet = out[i / 2];
        octet = i % 2 == 0 ? static_cast<std::uint8_t>((octet & 0xF0) | nibble)
                           : static_cast<std::uint8_t>((octet & 0x0F) | (nibble << 4));
    }
    return out;
}

// An address field: digit count, type of address, semi-octets.
bool TakeAddress(Cursor& cursor, std::string& number) {
    std::uint8_t digits = 0, type = 0;
    Octets octets;
    if (!cursor.Take(digits) || !cursor.Take(type) || !cursor.Take((digits + 1u) / 2, octets))
        return false;
    if ((type & 0x70) == 0x50) return false;  // alphanumeric: not a number one can reach
    number = SemiOctetDigits(octets, digits);
    if ((type & 0x70) == 0x10) number.insert(0, 1, '+');
    return true;
}

void PutAddress(Octets& out, const std::string& number) {
    const bool international = !number.empty() && number[0] == '+';
    const std::string digits = international ? number.substr(1) : number;
    out.push_back(static_cast<std::uint8_t>(digits.size()));
    out.push_back(international ? 0x91 : 0x81);
    const Octets packed = SemiOctets(digits);
    out.insert(out.end(), packed.begin(), packed.end());
}

// The SMSC information: a length octet, then (when not zero) a type and semi-octets.
void PutServiceCentre(Octets& out, const std::string& number) {
    const bool international = !number.empty() && number[0] == '+';
    const Octets packed = SemiOctets(international ? number.substr(1) : number);
    out.push_back(static_cast<std::uint8_t>(packed.size() + 1));
    out.push_back(international ? 0x91 : 0x81);
    out.insert(out.end(), packed.begin(), packed.end());
}

std::uint8_t SwappedDecimal(int value) {
    return static_cast<std::uint8_t>((value % 10) << 4 | (value / 10 % 10));
}
int FromSwappedDecimal(std::uint8_t octet) {
    return (octet & 0x0F) * 10 + (octet >> 4);
}
// The time zone's sign sits in bit 3, the top bit of its tens digit.
int FromSwappedZone(std::uint8_t octet) {
    const int quarters = (octet & 0x07) * 10 + (octet >> 4);
    return (octet & 0x08) != 0 ? -quarters : quarters;
}

bool UserDataFits(const UserData& data, std::string& problem) {
    const std::size_t limit = AlphabetOf(data.coding) == Alphabet::Gsm7 ? 160 : 140;
    if (data.length > limit) {
        problem =
            "user data length " + std::to_string(data.length) + " is over " + std::to_string(limit);
        return false;
    }
    if (data.octets.size() != UserDataOctets(data.coding, data.length)) {
        problem = "user data holds " + std::to_string(data.octets.size()) +
                  " octets where its length calls for " +
                  std::to_string(UserDataOctets(data.coding, data.length));
        return false;
    }
    if (HeaderOctets(data) > data.octets.size()) {
        problem = "user data header is longer than the user data";
        return false;
    }
    return true;
}

bool TakeUserData(Cursor& cursor, bool has_header, UserData& data, std::string& problem) {
    data.has_header = has_header;
    if (!cursor.Take(data.protocol_id) || !cursor.Take(data.coding)) {
        problem = "ends before its data coding scheme";
        return false;
    }
    return true;
}

bool TakeUserDataBody(Cursor& cursor, UserData& data, std::string& problem) {
    if (!cursor.Take(data.length)) {
        problem = "ends before its user data length";
        return false;
    }
    cursor.Take(cursor.left(), data.octets);
    return UserDataFits(data, problem);
}

void PutUserDataBody(Octets& out, const UserData& data) {
    out.push_back(data.length);
    out.insert(out.end(), data.octets.begin(), data.octets.end());
}

// --- text to user data ---

}  // namespace

std::u32string DecodeUtf8(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80    ? 0
                          : lead >= 0xF0 ? 3
                          : lead >= 0xE0 ? 2
                          : lead >= 0xC0 ? 1
                                         : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= utf8.size()) {
            out += U'?';
            ++i;
            continue;
        }
        char32_t ch = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            ch = ch << 6 |
                 (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
        out += ch;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | ch >> 6);
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | ch >> 12);
        out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ch >> 18);
        out += static_cast<char>(0x80 | (ch >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

// The septets of a text, or nullopt when a character is outside the alphabet.
std::optional<Octets> GsmSeptets(const std::u32string& text) {
    Octets out;
    for (const char32_t ch : text) {
        bool found = false;
        for (std::size_t s = 0; s < kGsmAlphabet.size() && !found; ++s) {
            if (s != kEscape && kGsmAlphabet[s] == ch) {
                out.push_back(static_cast<std::uint8_t>(s));
                found = true;
            }
        }
        for (const Extension& e : kGsmExtension) {
            if (!found && e.ch == ch) {
                out.push_back(kEscape);
                out.push_back(e.septet);
                found = true;
            }
        }
        if (!found) return std::nullopt;
    }
    return out;
}

namespace {

// Packs septets after a header of `header` octets, which the septets' bits follow
// from the next septet boundary.
UserData PackGsm(const Octets& header, const Octets& septets) {
    const std::size_t first = HeaderSeptets(header.size());
    const std::size_t total = first + septets.size();
    UserData data;
    data.has_header = !header.empty();
    data.length = static_cast<std::uint8_t>(total);
    data.octets.assign((total * 7 + 7) / 8, 0);
    std::copy(header.begin(), header.end(), data.octets.begin());
    for (std::size_t i = 0; i < septets.size(); ++i) {
        const std::size_t bit = (first + i) * 7;
        const unsigned value = static_cast<unsigned>(septets[i] & 0x7F) << (bit % 8);
        data.octets[bit / 8] |= static_cast<std::uint8_t>(value & 0xFF);
        if (value > 0xFF) data.octets[bit / 8 + 1] |= static_cast<std::uint8_t>(value >> 8);
    }
    return data;
}

Octets UnpackGsm(const UserData& data) {
    Octets septets;
    for (std::size_t i = HeaderSeptets(HeaderOctets(data)); i < data.length; ++i) {
        const std::size_t bit = i * 7;
        unsigned value = data.octets[bit / 8];
        if (bit / 8 + 1 < data.octets.size())
            value |= static_cast<unsigned>(data.octets[bit / 8 + 1]) << 8;
        septets.push_back(static_cast<std::uint8_t>(value >> (bit % 8) & 0x7F));
    }
    return septets;
}

}  // namespace

// UCS2 as phones send it: UTF-16, a character beyond the BMP as a surrogate pair.
std::u16string Utf16Units(const std::u32string& text) {
    std::u16string units;
    for (const char32_t ch : text) {
        if (ch < 0x10000) {
            units.push_back(static_cast<char16_t>(ch));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

namespace {

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

UserData PackUcs2(const Octets& header, const std::u16string& units) {
    UserData data;
    data.coding = 0x08;
    data.has_header = !header.empty();
    data.octets = header;
    for (const char16_t unit : units) {
        data.octets.push_back(static_cast<std::uint8_t>(unit >> 8));
        data.octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    data.length = static_cast<std::uint8_t>(data.octets.size());
    return data;
}

Octets ConcatenationHeader(std::uint8_t reference, std::size_t total, std::size_t number) {
    return {0x05,
            0x00,
            0x03,
            reference,
            static_cast<std::uint8_t>(total),
            static_cast<std::uint8_t>(number)};
}

// Splits units into pieces of at most `size`, never between the two halves of a
// character: an escape and its septet, or a surrogate pair.
template <typename Unit, typename EndsACharacter>
std::vector<std::basic_string<Unit>> Split(const std::basic_string<Unit>& units, std::size_t size,
                                           EndsACharacter ends_a_character) {
    std::vector<std::basic_string<Unit>> pieces;
    for (std::size_t pos = 0; pos < units.size();) {
        std::size_t take = std::min(size, units.size() - pos);
        if (pos + take < units.size() && !ends_a_character(units[pos + take - 1])) --take;
        pieces.push_back(units.substr(pos, take));
        pos += take;
    }
    return pieces;
}

std::vector<UserData> UserDataForText(std::string_view utf8, std::uint8_t reference) {
    const std::u32string text = DecodeUtf8(utf8);
    std::vector<UserData> out;
    if (const auto septets = GsmSeptets(text)) {
        const std::basic_string<std::uint8_t> all(septets->begin(), septets->end());
        if (all.size() <= kSeptetsPerMessage) return {PackGsm({}, *septets)};
        const auto pieces =
            Split(all, kSeptetsPerSegment, [](std::uint8_t septet) { return septet != kEscape; });
        for (std::size_t i = 0; i < pieces.size(); ++i)
            out.push_back(PackGsm(ConcatenationHeader(reference, pieces.size(), i + 1),
                                  Octets(pieces[i].begin(), pieces[i].end())));
        return out;
    }
    const std::u16string units = Utf16Units(text);
    if (units.size() <= kUcs2UnitsPerMessage) return {PackUcs2({}, units)};
    const auto pieces =
        Split(units, kUcs2UnitsPerSegment, [](char16_t unit) { return !IsHighSurrogate(unit); });
    for (std::size_t i = 0; i < pieces.size(); ++i)
        out.push_back(PackUcs2(ConcatenationHeader(reference, pieces.size(), i + 1), pieces[i]));
    return out;
}

void PutTimeStamp(Octets& out, const TimeStamp& t) {
    for (const int field : {t.year % 100, t.month, t.day, t.hour, t.minute, t.second})
        out.push_back(SwappedDecimal(field));
    const int quarters = t.zone_quarters < 0 ? -t.zone_quarters : t.zone_quarters;
    out.push_back(
        static_cast<std::uint8_t>(SwappedDecimal(quarters) | (t.zone_quarters < 0 ? 0x08 : 0)));
}

}  // namespace

std::string ToHex(const Octets& octets) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(octets.size() * 2);
    for (const std::uint8_t o : octets) {
        out += kDigits[o >> 4];
        out += kDigits[o & 0x0F];
    }
    return out;
}

std::optional<Octets> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    Octets out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return out;
}

Result<Submit> ParseSubmit(std::string_view hex, int declared_length) {
    const auto octets = FromHex(hex);
    if (!octets || octets->empty()) return Bad("is not hexadecimal octets");
    const std::size_t smsc = (*octets)[0];
    if (octets->size() < smsc + 2) return Bad("ends inside its service-centre information");
    const std::size_t tpdu = octets->size() - 1 - smsc;
    if (static_cast<int>(tpdu) != declared_length)
        return Bad("holds " + std::to_string(tpdu) + " TPDU octets, not the " +
                   std::to_string(declared_length) + " announced");
    const Octets body(octets->begin() + static_cast<std::ptrdiff_t>(1 + smsc), octets->end());
    Cursor cursor(body);
    std::uint8_t first = 0;
    Submit submit;
    cursor.Take(first);
    if ((first & 0x03) != 0x01) return Bad("is not an SMS-SUBMIT");
    submit.reply_path = (first & 0x80) != 0;
    submit.status_report = (first & 0x20) != 0;
    if (!cursor.Take(submit.reference)) return Bad("ends before its message reference");
    if (!TakeAddress(cursor, submit.destination) || submit.destination.empty() ||
        submit.destination == "+")
        return Bad("has no usable destination address");
    std::string problem;
    if (!TakeUserData(cursor, (first & 0x40) != 0, submit.data, problem)) return Bad(problem);
    const int validity_format = first >> 3 & 0x03;
    Octets validity;
    if (!cursor.Take(validity_format == 0 ? 0 : validity_format == 2 ? 1 : 7, validity))
        return Bad("ends inside its validity period");
    if (!TakeUserDataBody(cursor, submit.data, problem)) return Bad(problem);
    return submit;
}

TimeStamp NowLocal() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    TimeStamp stamp{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(local.tm_gmtoff / 900)};
    return stamp;
}

std::string BuildDeliver(const Deliver& deliver) {
    Octets out;
    PutServiceCentre(out, deliver.service_centre);
    // SMS-DELIVER with "no more messages waiting" set, as networks send a lone message.
    std::uint8_t first = 0x04;
    if (deliver.data.has_header) first |= 0x40;
    if (deliver.reply_path) first |= 0x80;
    out.push_back(first);
    PutAddress(out, deliver.originator);
    out.push_back(deliver.data.protocol_id);
    out.push_back(deliver.data.coding);
    PutTimeStamp(out, deliver.time);
    PutUserDataBody(out, deliver.data);
    return ToHex(out);
}

std::string BuildStatusReport(const StatusReport& report) {
    Octets out;
    PutServiceCentre(out, report.service_centre);
    // TP-MTI 2 (SMS-STATUS-REPORT) with "no more messages waiting".
    out.push_back(0x06);
    out.push_back(report.reference);
    PutAddress(out, report.recipient);
    PutTimeStamp(out, report.centre_time);
    PutTimeStamp(out, report.discharged);
    out.push_back(report.status);
    return ToHex(out);
}

Result<Deliver> ParseDeliver(std::string_view hex) {
    const auto octets = FromHex(hex);
    if (!octets || octets->empty()) return Bad("is not hexadecimal octets");
    Cursor cursor(*octets);
    std::uint8_t smsc_length = 0, first = 0;
    Octets smsc, stamp;
    Deliver deliver;
    cursor.Take(smsc_length);
    if (!cursor.Take(smsc_length, smsc)) return Bad("ends inside its service-centre information");
    if (smsc.size() > 1) {
        std::string& centre = deliver.service_centre;
        centre = SemiOctetDigits(Octets(smsc.begin() + 1, smsc.end()), (smsc.size() - 1) * 2);
        if (centre.back() == '?') centre.pop_back();  // the F that pads an odd count
        if (smsc[0] == 0x91) centre.insert(0, 1, '+');
    }
    if (!cursor.Take(first) || (first & 0x03) != 0x00) return Bad("is not an SMS-DELIVER");
    deliver.reply_path = (first & 0x80) != 0;
    if (!TakeAddress(cursor, deliver.originator)) return Bad("has no usable originating address");
    std::string problem;
    if (!TakeUserData(cursor, (first & 0x40) != 0, deliver.data, problem)) return Bad(problem);
    if (!cursor.Take(7, stamp)) return Bad("ends inside its time stamp");
    TimeStamp& t = deliver.time;
    t = {2000 + FromSwappedDecimal(stamp[0]),
         FromSwappedDecimal(stamp[1]),
         FromSwappedDecimal(stamp[2]),
         FromSwappedDecimal(stamp[3]),
         FromSwappedDecimal(stamp[4]),
         FromSwappedDecimal(stamp[5]),
         FromSwappedZone(stamp[6])};
    if (!TakeUserDataBody(cursor, deliver.data, problem)) return Bad(problem);
    return deliver;
}

std::vector<std::string> DeliversForText(std::string_view utf8, const std::string& originator,
                                         const std::string& service_centre, const TimeStamp& time,
                                         std::uint8_t reference) {
    std::vector<std::string> pdus;
    for (UserData& data : UserDataForText(utf8, reference)) {
        Deliver deliver;
        deliver.service_centre = service_centre;
        deliver.originator = originator;
        deliver.time = time;
        deliver.data = std::move(data);
        pdus.push_back(BuildDeliver(deliver));
    }
    return pdus;
}

Octets PackSeptets(const Octets& septets) {
    return PackGsm({}, septets).octets;
}

Octets UnpackSeptets(const Octets& octets, std::size_t count) {
    UserData data;
    data.length = static_cast<std::uint8_t>(std::min<std::size_t>(count, 255));
    data.octets = octets;
    return UnpackGsm(data);
}

std::string SeptetsText(const Octets& septets) {
    std::string out;
    for (std::size_t i = 0; i < septets.size(); ++i) {
        char32_t ch = kGsmAlphabet[septets[i] & 0x7F];
        if (septets[i] == kEscape) {
            ch = u' ';
            if (i + 1 < septets.size()) {
                ++i;
                for (const Extension& e : kGsmExtension)
                    if (e.septet == septets[i]) ch = e.ch;
            }
        }
        AppendUtf8(out, ch);
    }
    return out;
}

std::string UserDataText(const UserData& data) {
    std::string out;
    switch (AlphabetOf(data.coding)) {
        case Alphabet::Gsm7:
            return SeptetsText(UnpackGsm(data));
        case Alphabet::Ucs2:
            for (std::size_t i = HeaderOctets(data); i + 1 < data.octets.size(); i += 2) {
                char32_t unit = static_cast<char32_t>(data.octets[i] << 8 | data.octets[i + 1]);
                if (IsHighSurrogate(unit) && i + 3 < data.octets.size()) {
                    const auto low =
                        static_cast<char32_t>(data.octets[i + 2] << 8 | data.octets[i + 3]);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                        i += 2;
                    }
                }
                AppendUtf8(out, unit);
            }
            return out;
        case Alphabet::Data8:
            break;
    }
    return ToHex(Octets(data.octets.begin() + static_cast<std::ptrdiff_t>(HeaderOctets(data)),
                        data.octets.end()));
}

}  // namespace velka::modemsim
