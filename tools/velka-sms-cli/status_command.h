// velka-sms-cli status: what the modem is and says, its SIM's counts against the
// limits set for it, and the queue; as lines of a name and a value, or as one
// JSON object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/app_core.h"
#include "app/sim_limits.h"

namespace velka::cli {

// What one run of status found of one modem.
struct ModemFindings {
    std::uint16_t port = 0;
    app::AppCore::ModemReport modem;
    std::optional<app::SimStanding> sim;  // nothing while no SIM is known
};

// What one run of status found: the first modem, the queue, the pool's others.
struct StatusFindings {
    ModemFindings first;
    std::size_t queued = 0;
    std::vector<ModemFindings> others;
};

// Prints the findings on stdout: one fact of the first modem a line, its name and
// a tab before it, then a line "modem" for each other modem of the pool (port,
// state, operator, signal, IMEI, ICCID, SIM name and today's count, tab-separated);
// or with `json` one object, every modem in its "modems". Says on stderr why a
// SIM's limits or counts could not be read. Main's thread.
void PrintStatus(const StatusFindings& found, bool json);

}  // namespace velka::cli
