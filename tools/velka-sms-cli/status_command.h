// velka-sms-cli status: what the modem is and says, its SIM's counts against the
// limits set for it, and the queue; as lines of a name and a value, or as one
// JSON object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "app/app_core.h"
#include "app/sim_limits.h"

namespace velka::cli {

// What one run of status found.
struct StatusFindings {
    std::uint16_t port = 0;
    app::AppCore::ModemReport modem;
    std::optional<app::SimStanding> sim;  // nothing while no SIM is known
    std::size_t queued = 0;
};

// Prints the findings on stdout: one fact a line, its name and a tab before it,
// or with `json` one object; says on stderr why the SIM's limits or counts could
// not be read. Main's thread.
void PrintStatus(const StatusFindings& found, bool json);

}  // namespace velka::cli
