// The SIM's balance watched: the amount read from the operator's answer to the
// balance code, the settings of the check (Config.ini, section [Balance]) and the
// last reading kept in balance.json beside the store files (docs/balance-file.md).
// The reading is pure; the settings and the file block on the disk. Any thread,
// one writer per file at a time (the front end's thread).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::app {

inline constexpr const char* kBalanceFile = "balance.json";

// The first money amount of an operator's answer, in the forms operators write it:
// "Баланс: 57,10 р.", "Balance 99.00 RUB", "Ваш баланс -5 руб", "1 234,56 руб",
// "1,234.56 RUB", "−15,50 ₽". An amount beside a currency comes first, then the
// first number after a word for the balance, then the first number; dates ("на
// 09.12.2026") and times are never amounts. Nothing when the answer holds none.
std::optional<double> ReadBalance(std::u16string_view answer);

enum class BalanceInterval { Off, Hourly, Daily };

// Config.ini, section [Balance]: Code (the balance code, empty by default, which
// checks nothing), Interval (off, hourly, daily; off by default), Threshold (an
// amount; below it the user is warned; empty: never). Windows-1251, as the file is.
struct BalanceSettings {
    std::string code;
    BalanceInterval interval = BalanceInterval::Off;
    std::optional<double> threshold;
    bool operator==(const BalanceSettings&) const = default;
};
inline constexpr const char* kBalanceSection = "Balance";

BalanceSettings ReadBalanceSettings(const std::string& config_file);
Status WriteBalanceSettings(const std::string& config_file, const BalanceSettings& settings);

// The interval's length; nothing when the check is off or has no code.
std::optional<std::chrono::seconds> BalanceCheckPeriod(const BalanceSettings& settings);

// One reading of the balance.
struct BalanceReading {
    std::string code;              // the code asked, UTF-8
    std::string read_at;           // when, as the program writes dates ("09.12.2026 21:30:00")
    std::optional<double> amount;  // ReadBalance of the text
    std::u16string text;           // the operator's answer as it came
    bool operator==(const BalanceReading&) const = default;
};

// Whether the reading is below the threshold the settings give.
bool BalanceLow(const BalanceReading& reading, const BalanceSettings& settings);

// An amount as Russian texts write it: "57,10", "-5,00".
std::string AmountText(double amount);

// balance.json: the last reading, replaced whole and durably.
Status SaveBalanceReading(const std::string& path, const BalanceReading& reading);
// The kept reading; nothing when there is none yet; a sentence when the file
// cannot be read or is not the program's.
Result<std::optional<BalanceReading>> LoadBalanceReading(const std::string& path);

}  // namespace velka::app
