#include "modem/phone_book_dialogue.h"

#include <algorithm>
#include <string>

#include "modem/phone_book_text.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace velka::modem {
namespace {

using Kind = PhoneBookError::Kind;
using Reading = Result<std::vector<PhoneBookEntry>, PhoneBookError>;

// The SIM's own phone book (27.007: "SM", the SIM phonebook).
constexpr std::string_view kSimStorage = "SM";

// The failure an answer that did not end in "OK" means; `refused` for an error.
PhoneBookError FailureOf(const Answer& answer, Kind refused) {
    switch (answer.outcome) {
        case Outcome::Error:
        case Outcome::Busy:
            return {refused, std::string(TrimBlanks(answer.final_line))};
        case Outcome::Stopped:
            return {Kind::Stopped, {}};
        case Outcome::Ok:
        case Outcome::Silent:
            break;
    }
    return {Kind::Silent, {}};
}

bool Unanswered(const Answer& answer) {
    return answer.outcome == Outcome::Silent || answer.outcome == Outcome::Stopped;
}

std::optional<std::string> LineWith(const Answer& answer, std::string_view prefix) {
    for (const std::string& line : answer.lines) {
        if (codepage::StartsWithIgnoreCase(TrimBlanks(line), prefix)) return line;
    }
    return std::nullopt;
}

// "+CME ERROR: 22" (not found) and 21 (invalid index), numeric or in words: what
// modems answer for a range that holds no entry.
bool IsEmptyRange(std::string_view final_line) {
    const std::string upper = codepage::Upper(TrimBlanks(final_line));
    for (const std::string_view empty : {"+CME ERROR: 22", "+CME ERROR: 21",
                                         "+CME ERROR: NOT FOUND", "+CME ERROR: INVALID INDEX"}) {
        if (upper == empty) return true;
    }
    return false;
}

std::string Quoted(std::string_view text) {
    return '"' + std::string(text) + '"';
}

// What the modem had chosen before the reading, to choose again after it.
struct Chosen {
    std::optional<std::string> charset;
    std::optional<std::string> storage;
};

class PhoneBookReading {
  public:
    PhoneBookReading(TComPort& port, AnswerReader& reader, Clock::duration quiet)
        : port_(port), reader_(reader), quiet_(quiet) {}

    Reading Run() {
        Reading read = Read();
        // A modem that fell silent would only make each command wait out its bound;
        // the session opens it afresh, and nothing it sends depends on these choices.
        const bool unanswered =
            !read && (read.error().kind == Kind::Silent || read.error().kind == Kind::Stopped);
        if (!unanswered) Restore();
        return read;
    }

  private:
    Answer Command(const std::string& command, std::optional<Clock::duration> quiet = {}) {
        return RunCommand(port_, reader_, command, kCommandTicks, quiet);
    }

    Reading Read() {
        const Answer charset = Command("AT+CSCS?");
        if (Unanswered(charset)) return FailureOf(charset, Kind::Refused);
        if (const auto line = LineWith(charset, "+CSCS")) {
            const std::vector<std::string> names = OfferedCharsets(*line);
            if (!names.empty()) before_.charset = names.front();
        }
        const auto chosen = ChooseCharset();
        if (!chosen) return chosen.error();
        const Answer storage = Command("AT+CPBS?");
        if (Unanswered(storage)) return FailureOf(storage, Kind::Refused);
        if (const auto line = LineWith(storage, "+CPBS")) {
            if (const auto parsed = ParseStorageLine(*line)) before_.storage = parsed->storage;
        }
        const Answer selected = Command("AT+CPBS=" + Quoted(kSimStorage));
        if (selected.outcome != Outcome::Ok) return FailureOf(selected, Kind::NoPhoneBook);
        selected_storage_ = true;
        return ReadEntries(*chosen);
    }

    // The best character set the modem offers, chosen. A modem that offers no
    // choice gives names in the set it has, known or taken for ASCII.
    Result<Charset, PhoneBookError> ChooseCharset() {
        const Answer offered = Command("AT+CSCS=?");
        if (Unanswered(offered)) return FailureOf(offered, Kind::Refused);
        const Charset current =
            before_.charset ? CharsetNamed(*before_.charset).value_or(Charset::Ira) : Charset::Ira;
        const auto line = LineWith(offered, "+CSCS");
        if (offered.outcome != Outcome::Ok || !line) return current;
        // Without the set the modem had, it could not be chosen again afterwards.
        if (!before_.charset) return PhoneBookError{Kind::Refused, "AT+CSCS?"};
        for (const Charset charset : ByPreference(OfferedCharsets(*line))) {
            if (codepage::EqualIgnoreCase(*before_.charset, CharsetName(charset))) return charset;
            const Answer set = Command("AT+CSCS=" + Quoted(CharsetName(charset)));
            if (Unanswered(set)) return FailureOf(set, Kind::Refused);
            if (set.outcome != Outcome::Ok) continue;
            charset_changed_ = true;
            return charset;
        }
        return PhoneBookError{Kind::NoCharset, *line};
    }

    Reading ReadEntries(Charset charset) {
        const Answer counts = Command("AT+CPBS?");
        if (Unanswered(counts)) return FailureOf(counts, Kind::Refused);
        const auto storage_line = LineWith(counts, "+CPBS");
        const auto storage = storage_line ? ParseStorageLine(*storage_line) : std::nullopt;
        const int used = storage ? storage->used : -1;
        const Answer test = Command("AT+CPBR=?");
        if (test.outcome != Outcome::Ok) return FailureOf(test, Kind::NoPhoneBook);
        const auto range_line = LineWith(test, "+CPBR");
        const auto range = range_line ? ParseRangeLine(*range_line) : std::nullopt;
        if (!range) return PhoneBookError{Kind::Malformed, range_line.value_or("AT+CPBR=?")};
        std::vector<PhoneBookEntry> entries;
        int next = range->first;
        while (next <= range->last &&
               (used < 0 || entries.size() < static_cast<std::size_t>(used))) {
            const int last = std::min(range->last, next + kPhoneBookChunk - 1);
            const auto chunk = ReadChunk(next, last, charset);
            if (!chunk) return chunk.error();
            // A modem that gave fewer than it held goes on after its last entry.
            next = chunk->empty() ? last + 1 : chunk->back().index + 1;
            entries.insert(entries.end(), chunk->begin(), chunk->end());
        }
        return entries;
    }

    Reading ReadChunk(int first, int last, Charset charset) {
        if (reader_.stopped()) return PhoneBookError{Kind::Stopped, {}};
        const Answer answer =
            Command("AT+CPBR=" + std::to_string(first) + "," + std::to_string(last), quiet_);
        if (answer.outcome == Outcome::Error && IsEmptyRange(answer.final_line))
            return std::vector<PhoneBookEntry>{};
        if (answer.outcome != Outcome::Ok) return FailureOf(answer, Kind::Refused);
        std::vector<PhoneBookEntry> entries;
        for (const std::string& line : answer.lines) {
            // Lines of other kinds are a modem's noise; an entry it cannot read
            // would leave a gap nobody sees.
            if (!codepage::StartsWithIgnoreCase(TrimBlanks(line), "+CPBR:")) continue;
            const auto raw = ParseEntryLine(line);
            const auto name = raw ? DecodeName(raw->name, charset) : std::nullopt;
            const bool in_order = raw && raw->index >= first && raw->index <= last &&
                                  (entries.empty() || raw->index > entries.back().index);
            if (!name || !in_order) return PhoneBookError{Kind::Malformed, line};
            entries.push_back({raw->index, raw->number, raw->type, *name});
        }
        return entries;
    }

    // What the client sends needs neither (messages go as PDUs); they are chosen
    // again for whoever uses the modem next. A refusal now changes nothing of the
    // reading, and a silence has the port opened afresh by the session.
    void Restore() {
        if (charset_changed_ && before_.charset) Command("AT+CSCS=" + Quoted(*before_.charset));
        if (selected_storage_ && before_.storage &&
            !codepage::EqualIgnoreCase(*before_.storage, kSimStorage))
            Command("AT+CPBS=" + Quoted(*before_.storage));
    }

    TComPort& port_;
    AnswerReader& reader_;
    const Clock::duration quiet_;
    Chosen before_;
    bool charset_changed_ = false;
    bool selected_storage_ = false;
};

}  // namespace

Reading ReadSimPhoneBook(TComPort& port, AnswerReader& reader, Clock::duration quiet) {
    return PhoneBookReading(port, reader, quiet).Run();
}

}  // namespace velka::modem
