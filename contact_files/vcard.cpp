#include "contact_files/vcard.h"

#include <array>
#include <optional>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::contact_files {
namespace {

// RFC 6350 keeps a line to 75 octets, the line break not counted.
constexpr std::size_t kLineOctets = 75;
// The parts of N in the order a name is shown: prefixes, given, additional, family, suffixes.
constexpr std::array<std::size_t, 5> kShownNameParts = {3, 1, 2, 0, 4};

std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiUpper(text.substr(0, prefix.size())) == prefix;
}

// The part of a content line before its value: the property name and parameters.
std::string_view LineHead(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) return line.substr(0, i);
    }
    return line;
}

bool IsQuotedPrintable(std::string_view line) {
    return AsciiUpper(LineHead(line)).find("QUOTED-PRINTABLE") != std::string::npos;
}

// The logical lines: a line that begins with a blank continues the one before;
// a quoted-printable value whose line ends in '=' goes on in the next line.
std::vector<std::string> LogicalLines(std::string_view text) {
    std::vector<std::string> lines;
    bool soft_break = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (soft_break) {
            lines.back().pop_back();
            lines.back() += line;
        } else if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            lines.back() += line.substr(1);
        } else {
            lines.emplace_back(line);
        }
        soft_break =
            !lines.back().empty() && lines.back().back() == '=' && IsQuotedPrintable(lines.back());
    }
    return lines;
}

struct ContentLine {
    std::string name;                 // upper case, without a "group." prefix
    std::vector<std::string> params;  // upper case, as written: "TYPE=CELL", "CHARSET=UTF-8"
    std::string_view value;           // raw
};

ContentLine SplitContentLine(std::string_view line) {
    const std::string_view head = LineHead(line);
    ContentLine parsed;
    parsed.value = head.size() < line.size() ? line.substr(head.size() + 1) : std::string_view();
    std::size_t start = 0;
    bool first = true;
    while (start <= head.size()) {
        std::size_t end = head.find(';', start);
        if (end == std::string_view::npos) end = head.size();
        std::string part = AsciiUpper(head.substr(start, end - start));
        if (first) {
            parsed.name =
                part.substr(part.rfind('.') == std::string::npos ? 0 : part.rfind('.') + 1);
            first = false;
        } else {
            parsed.params.push_back(std::move(part));
        }
        start = end + 1;
    }
    return parsed;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeQuotedPrintable(std::string_view value) {
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
            HexDigit(value[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else if (!(value[i] == '=' && i + 1 == value.size())) {  // a trailing soft break
            bytes += value[i];
        }
    }
    return bytes;
}

// The value as Windows-1251 text, escapes still in: decoded from quoted-printable
// when so marked, from the charset it names, else from UTF-8; bytes that are not
// UTF-8 without a charset are taken as Windows-1251, as old phones write them.
std::string DecodedValue(const ContentLine& line) {
    bool quoted_printable = false;
    std::string charset;
    for (const std::string& param : line.params) {
        if (param == "QUOTED-PRINTABLE" || param == "ENCODING=QUOTED-PRINTABLE") {
            quoted_printable = true;
        }
        if (StartsWith(param, "CHARSET=")) charset = param.substr(8);
    }
    std::string bytes =
        quoted_printable ? DecodeQuotedPrintable(line.value) : std::string(line.value);
    const bool cp1251 = charset == "WINDOWS-1251" || charset == "CP1251";
    if (!cp1251 && codepage::IsValidUtf8(bytes)) return codepage::FromUtf8(bytes);
    return bytes;
}

// The pieces of a structured value between the separators that are not escaped,
// escapes still in.
std::vector<std::string> SplitUnescaped(std::string_view value, char separator) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            pieces.back() += value.substr(i, 2);
            ++i;
        } else if (value[i] == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += value[i];
        }
    }
    return pieces;
}

std::string Unescape(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            text += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            text += value[i];
        }
    }
    return text;
}

// N is family;given;additional;prefixes;suffixes: shown as people write a name.
std::string NameFromParts(std::string_view value) {
    const std::vector<std::string> parts = SplitUnescaped(value, ';');
    std::string name;
    for (const std::size_t index : kShownNameParts) {
        if (index >= parts.size()) continue;
        const std::string part(TrimBlanks(Unescape(parts[index])));
        if (part.empty()) continue;
        if (!name.empty()) name += ' ';
        name += part;
    }
    return name;
}

// One card while it is being read.
struct Card {
    std::string where;
    std::string formatted_name;
    std::string name_from_parts;
    std::string category;
    std::vector<std::string> numbers;
};

void TakeLine(const ContentLine& line, Card& card) {
    const std::string value = DecodedValue(line);
    if (line.name == "FN") {
        card.formatted_name = TrimBlanks(Unescape(value));
    } else if (line.name == "N") {
        card.name_from_parts = NameFromParts(value);
    } else if (line.name == "CATEGORIES" && card.category.empty()) {
        card.category = TrimBlanks(Unescape(SplitUnescaped(value, ',').front()));
    } else if (line.name == "TEL") {
        std::string_view number = value;
        if (StartsWith(number, "TEL:")) number.remove_prefix(4);  // vCard 4.0 URIs
        card.numbers.push_back(NumberFromFile(Unescape(number)));
    }
}

void FinishCard(const Card& card, ParsedFile& parsed) {
    if (card.numbers.empty()) {
        parsed.bad.push_back({card.where, Text("в карточке нет номера телефона (TEL)")});
        return;
    }
    const std::string& name =
        card.formatted_name.empty() ? card.name_from_parts : card.formatted_name;
    for (const std::string& number : card.numbers) {
        parsed.rows.push_back({card.where, {name, number, card.category}});
    }
}

std::string Escape(std::string_view text) {
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ',' || c == ';') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n' || c == '\r') {
            escaped += "\\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The line with CR LF, folded into pieces of at most 75 octets (a continuation's
// leading blank included), never inside a UTF-8 sequence.
void AppendFolded(std::string_view line, std::string& out) {
    std::size_t limit = kLineOctets;
    while (line.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && IsUtf8Continuation(line[cut])) --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        limit = kLineOctets - 1;
    }
    out.append(line);
    out += "\r\n";
}

// The structured name of N (family;given;additional;prefix;suffix) from a whole
// name: one word is a given name ("Мария"); of several, the last is the family name
// and the rest the given names ("Иван Петров"), as address books split a name typed
// whole. FN keeps the name as written, and is what a reader shows.
std::string StructuredName(std::string_view name) {
    const std::string_view trimmed = TrimBlanks(name);
    const std::size_t last_blank = trimmed.find_last_of(' ');
    const bool one_word = last_blank == std::string_view::npos;
    std::string structured = one_word ? std::string() : Escape(trimmed.substr(last_blank + 1));
    structured += ';';
    structured += Escape(one_word ? trimmed : TrimBlanks(trimmed.substr(0, last_blank)));
    structured += ";;;";
    return structured;
}

}  // namespace

ParsedFile ParseVCards(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    ParsedFile parsed;
    std::optional<Card> card;
    int cards = 0;
    const auto unfinished = [&] {
        parsed.bad.push_back({card->where, Text("карточка не закончена (нет END:VCARD)")});
    };
    for (const std::string& text : LogicalLines(bytes)) {
        const ContentLine line = SplitContentLine(text);
        if (line.name == "BEGIN" && AsciiUpper(TrimBlanks(line.value)) == "VCARD") {
            if (card) unfinished();
            card = Card{Text("Карточка ") + std::to_string(++cards), {}, {}, {}, {}};
        } else if (card && line.name == "END" && AsciiUpper(TrimBlanks(line.value)) == "VCARD") {
            FinishCard(*card, parsed);
            card.reset();
        } else if (card) {
            TakeLine(line, *card);
        }
    }
    if (card) unfinished();
    if (cards == 0) parsed.error = Text("В файле нет ни одной карточки vCard (BEGIN:VCARD).");
    return parsed;
}

std::string VCardsText(const std::vector<contacts::Contact>& contacts) {
    std::string text;
    for (const contacts::Contact& contact : contacts) {
        const std::string name = codepage::ToUtf8(contact.name);
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        AppendFolded("FN:" + Escape(name), text);
        AppendFolded("N:" + StructuredName(name), text);
        AppendFolded("TEL:" + Escape(codepage::ToUtf8(contact.number)), text);
        AppendFolded("CATEGORIES:" + Escape(codepage::ToUtf8(contact.group)), text);
        text += "END:VCARD\r\n";
    }
    return text;
}

}  // namespace velka::contact_files
