// velka-sms-cli ussd CODE [REPLY...]: a USSD request and the replies to the
// network's questions, through the application core's errand on the modem, as the
// window's "USSD-запрос…" sends them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velka::cli {

// Runs "ussd" with the arguments after it (UTF-8): the code, the replies,
// "--via" and the modem of a pool to ask through (else the first), and "--json". `pin` unlocks a
// SIM that asks for it. Prints each answer and gives the exit status (exit_status.h). Blocks on the
// modem, each answer up to its wait; main's thread.
int Ussd(const std::vector<std::string_view>& args, const std::optional<std::string>& pin);

}  // namespace velka::cli
