// The settings of each SIM, kept in Config.ini in a section of its own named by
// the SIM's key (its ICCID): "[SIM 8970199...]" with "Name" (what the user calls
// it; shown instead of the key), "MessagesPerHour", "MessagesPerDay",
// "RecipientsPerDay", "RecipientsPerMonth" and "PauseSeconds" (whole numbers; 0
// or missing: no limit). A SIM moved to another modem keeps them, since they
// follow the SIM and not the port. Blocks on the disk; any thread, one writer of
// Config.ini at a time.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::settings {

// What an operator lets one SIM send before it looks like a bulk sender; 0: no limit.
struct SimLimits {
    int per_hour = 0;               // messages from the start of a clock hour
    int per_day = 0;                // messages from local midnight
    int recipients_per_day = 0;     // distinct numbers from local midnight
    int recipients_per_month = 0;   // distinct numbers from the first of the month
    std::chrono::seconds pause{0};  // at least this long from one send to the next
    bool operator==(const SimLimits&) const = default;
};

struct SimSettings {
    std::string name;  // Windows-1251; empty: none given
    SimLimits limits;
    bool operator==(const SimSettings&) const = default;
};

// "SIM 8970199...".
std::string SimSection(std::string_view sim_key);

// The SIM's settings; a missing file or section gives none and no limit. A limit
// that is not a whole number from 0 up fails with the conversion message
// ("'x' is not a valid integer value") or "'-5' is below 0", naming the key,
// rather than sending without the limit the user meant.
Result<SimSettings> ReadSimSettings(const std::string& ini_path, std::string_view sim_key);

// Writes every key of the SIM's section; stops at the first write that fails.
Status WriteSimSettings(const std::string& ini_path, std::string_view sim_key,
                        const SimSettings& settings);

}  // namespace velka::settings
