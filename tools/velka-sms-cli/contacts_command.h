// velka-sms-cli contacts import | export: the contact book to and from vCard and CSV
// files, the same import and export as the window's "Файл" menu, with the
// questions the window asks answered by options.
#pragma once

#include <string_view>
#include <vector>

namespace velka::cli {

// Runs "contacts" with the arguments after it (UTF-8) against the machine's
// registry and the program directory's files; prints the outcome and gives the exit
// status (exit_status.h). Blocks on the disk and the registry; main's thread.
int Contacts(const std::vector<std::string_view>& args);

}  // namespace velka::cli
