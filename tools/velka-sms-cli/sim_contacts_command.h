// velka-sms-cli sim-contacts: the SIM's phone book, read as the window's "Импорт
// контактов с SIM-карты" reads it, listed.
#pragma once

#include <optional>
#include <string>

namespace velka::cli {

// Reads the SIM's phone book of the modem Config.ini names, on this thread (no
// worker runs), `pin` given to a SIM that asks for it, and prints one entry a line
// (index, number as dialled, name, separated by tabs) or, with `json`, one array of
// objects. Gives the exit status (exit_status.h). Blocks on the modem; main's thread.
int SimContacts(bool json, const std::optional<std::string>& pin);

}  // namespace velka::cli
