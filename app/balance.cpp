#include "app/balance.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace velka::app {
namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Blanks that operators put between groups of thousands: space, no-break space,
// narrow no-break space.
bool IsGroupBlank(char16_t c) {
    return c == u' ' || c == u'\u00A0' || c == u'\u202F';
}

bool IsMinus(char16_t c) {
    return c == u'-' || c == u'\u2212' || c == u'\u2013';
}

char16_t Lower(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
    if (c >= u'\u0410' && c <= u'\u042F') return static_cast<char16_t>(c + 0x20);
    return c;
}

bool StartsWithWord(std::u16string_view text, std::u16string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(text[i]) != word[i]) return false;
    return true;
}

bool IsLetter(char16_t c) {
    const char16_t lower = Lower(c);
    return (lower >= u'a' && lower <= u'z') || (lower >= u'\u0430' && lower <= u'\u044F') ||
           lower == u'\u0451';
}

// The currencies operators name, lower case, as the text after an amount starts.
// A letter abbreviation must end there: "р." and "руб" count, "рубрика" does not.
constexpr std::array<std::u16string_view, 14> kCurrencies = {
    u"руб", u"р",   u"rub", u"r",   u"\u20BD", u"$",   u"\u20AC",
    u"usd", u"eur", u"грн", u"uah", u"тг",     u"kzt", u"byn",
};

bool CurrencyAt(std::u16string_view text) {
    while (!text.empty() && IsGroupBlank(text.front())) text.remove_prefix(1);
    for (const std::u16string_view currency : kCurrencies) {
        if (!StartsWithWord(text, currency)) continue;
        const bool word = IsLetter(currency.back());
        if (!word || text.size() == currency.size() || !IsLetter(text[currency.size()]))
            return true;
    }
    return false;
}

// The words for the balance before its amount.
constexpr std::array<std::u16string_view, 5> kBalanceWords = {u"баланс", u"balance", u"остаток",
                                                              u"счет", u"счёт"};

struct Amount {
    double value = 0;
    std::size_t start = 0;  // where the number (its sign) starts
    std::size_t end = 0;    // just after it
};

// Three digits at `at` and no fourth: a group of thousands.
bool GroupAt(std::u16string_view text, std::size_t at) {
    return at + 2 < text.size() && IsDigit(text[at]) && IsDigit(text[at + 1]) &&
           IsDigit(text[at + 2]) && (at + 3 == text.size() || !IsDigit(text[at + 3]));
}

// The integer part of a number from `i` into `value`; gives where it ends. Groups of
// three after a blank are taken in ("1 234"), and after a comma when a decimal point
// follows ("1,234.56"); only after a lead of at most three digits.
std::size_t ReadInteger(std::u16string_view text, std::size_t i, double& value) {
    const std::size_t first = i;
    while (i < text.size() && IsDigit(text[i])) value = value * 10 + (text[i++] - u'0');
    if (i - first > 3) return i;
    while (i < text.size() && GroupAt(text, i + 1) &&
           (IsGroupBlank(text[i]) ||
            (text[i] == u',' && i + 4 < text.size() && text[i + 4] == u'.'))) {
        for (std::size_t k = 1; k <= 3; ++k) value = value * 10 + (text[i + k] - u'0');
        i += 4;
    }
    return i;
}

// The number at `at` (a digit), with a sign just before it; nothing when it is
// part of a date or a time ("09.12.2026", "21:30").
std::optional<Amount> ReadAmount(std::u16string_view text, std::size_t at) {
    Amount amount;
    amount.start = at > 0 && IsMinus(text[at - 1]) ? at - 1 : at;
    std::size_t i = ReadInteger(text, at, amount.value);
    if (i + 1 < text.size() && (text[i] == u'.' || text[i] == u',') && IsDigit(text[i + 1])) {
        double scale = 0.1;
        std::size_t j = i + 1;
        for (; j < text.size() && IsDigit(text[j]); ++j, scale /= 10)
            amount.value += (text[j] - u'0') * scale;
        // "09.12.2026": a second point after the fraction makes a date.
        if (j + 1 < text.size() && text[j] == u'.' && IsDigit(text[j + 1])) return std::nullopt;
        i = j;
    }
    if (i < text.size() && text[i] == u':' && i + 1 < text.size() && IsDigit(text[i + 1]))
        return std::nullopt;
    if (at > 0 && text[at - 1] == u':' && at > 1 && IsDigit(text[at - 2])) return std::nullopt;
    if (amount.start != at) amount.value = -amount.value;
    amount.end = i;
    return amount;
}

std::vector<Amount> Amounts(std::u16string_view text) {
    std::vector<Amount> found;
    for (std::size_t i = 0; i < text.size();) {
        if (!IsDigit(text[i]) || (i > 0 && (IsDigit(text[i - 1]) || IsLetter(text[i - 1])))) {
            ++i;
            continue;
        }
        const auto amount = ReadAmount(text, i);
        std::size_t next = i;
        while (next < text.size() && (IsDigit(text[next]) || text[next] == u'.' ||
                                      text[next] == u',' || text[next] == u':'))
            ++next;
        if (amount) {
            found.push_back(*amount);
            next = std::max(next, amount->end);
        }
        i = next;
    }
    return found;
}

bool AfterBalanceWord(std::u16string_view text, const Amount& amount) {
    for (std::size_t i = 0; i < amount.start; ++i) {
        for (const std::u16string_view word : kBalanceWords)
            if (StartsWithWord(text.substr(i), word)) return true;
    }
    return false;
}

constexpr std::array<std::string_view, 3> kIntervalNames = {"off", "hourly", "daily"};

std::optional<double> ReadNumber(std::string_view text) {
    const auto amounts = Amounts(codepage::ToUtf16(TrimBlanks(text)));
    if (amounts.size() != 1) return std::nullopt;
    return amounts.front().value;
}

}  // namespace

std::optional<double> ReadBalance(std::u16string_view answer) {
    const std::vector<Amount> amounts = Amounts(answer);
    for (const Amount& amount : amounts)
        if (CurrencyAt(answer.substr(amount.end))) return amount.value;
    for (const Amount& amount : amounts)
        if (AfterBalanceWord(answer, amount)) return amount.value;
    if (amounts.empty()) return std::nullopt;
    return amounts.front().value;
}

BalanceSettings ReadBalanceSettings(const std::string& config_file) {
    BalanceSettings settings;
    settings.code = profile::ReadString(config_file, kBalanceSection, "Code", "");
    const std::string interval = profile::ReadString(config_file, kBalanceSection, "Interval", "");
    for (std::size_t i = 0; i < kIntervalNames.size(); ++i)
        if (codepage::EqualIgnoreCase(interval, kIntervalNames[i]))
            settings.interval = static_cast<BalanceInterval>(i);
    settings.threshold =
        ReadNumber(profile::ReadString(config_file, kBalanceSection, "Threshold", ""));
    return settings;
}

Status WriteBalanceSettings(const std::string& config_file, const BalanceSettings& settings) {
    const std::string threshold = settings.threshold ? AmountText(*settings.threshold) : "";
    for (const auto& [key, value] : {
             std::pair<std::string_view, std::string>{"Code", settings.code},
             {"Interval", std::string(kIntervalNames[static_cast<std::size_t>(settings.interval)])},
             {"Threshold", threshold},
         }) {
        if (Status written = profile::WriteString(config_file, kBalanceSection, key, value);
            !written)
            return written;
    }
    return {};
}

std::optional<std::chrono::seconds> BalanceCheckPeriod(const BalanceSettings& settings) {
    if (TrimBlanks(settings.code).empty()) return std::nullopt;
    switch (settings.interval) {
        case BalanceInterval::Hourly:
            return std::chrono::hours(1);
        case BalanceInterval::Daily:
            return std::chrono::hours(24);
        case BalanceInterval::Off:
            break;
    }
    return std::nullopt;
}

bool BalanceLow(const BalanceReading& reading, const BalanceSettings& settings) {
    return reading.amount && settings.threshold && *reading.amount < *settings.threshold;
}

std::string AmountText(double amount) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::round(amount * 100) / 100);
    std::string out(text);
    if (const auto point = out.find('.'); point != std::string::npos) out[point] = ',';
    return out == "-0,00" ? "0,00" : out;
}

Status SaveBalanceReading(const std::string& path, const BalanceReading& reading) {
    nlohmann::ordered_json json;
    json["code"] = reading.code;
    json["read_at"] = codepage::ToUtf8(reading.read_at);
    json["amount"] = reading.amount ? nlohmann::ordered_json(*reading.amount) : nullptr;
    json["text"] = codepage::Utf16ToUtf8(reading.text);
    return files::SaveDurably(
        path, json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

Result<std::optional<BalanceReading>> LoadBalanceReading(const std::string& path) {
    if (!files::Exists(path)) return std::optional<BalanceReading>();
    auto contents = files::ReadAll(path);
    if (!contents) return contents.error();
    const auto json = nlohmann::json::parse(*contents, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object() || !json.value("code", nlohmann::json()).is_string() ||
        !json.value("text", nlohmann::json()).is_string() ||
        !json.value("read_at", nlohmann::json()).is_string())
        return Error{path + " is not a balance reading of this program"};
    BalanceReading reading;
    reading.code = json["code"].get<std::string>();
    reading.read_at = codepage::FromUtf8(json["read_at"].get<std::string>());
    if (json.contains("amount") && json["amount"].is_number())
        reading.amount = json["amount"].get<double>();
    reading.text = codepage::Utf8ToUtf16(json["text"].get<std::string>());
    return std::optional<BalanceReading>(std::move(reading));
}

}  // namespace velka::app
