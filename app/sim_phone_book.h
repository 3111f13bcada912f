// Reading the SIM's phone book for a front end: an errand with the modem
// (app/errand.h) that hands back the entries or the sentence saying why there are
// none. The window imports the entries; velka-sms-cli lists them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "modem/phone_book.h"
#include "platform/result.h"

namespace velka::app {

// The entries in SIM order, or why none: a sentence in Windows-1251.
using SimPhoneBook = Result<std::vector<modem::PhoneBookEntry>>;

// Reads the SIM's phone book through `core` (AppCore::RunOnModem) and gives the
// result to `done`, once: on the worker's thread while the worker runs (post it
// to the front end's own), else on this one before the call returns.
void ReadSimPhoneBook(AppCore& core, const std::function<void(SimPhoneBook read)>& done);

// Why the phone book was not read, for the user, Windows-1251; `status` is the
// modem's state, which says why a modem is not ready.
std::string PhoneBookFailureText(const modem::PhoneBookError& error,
                                 const modem::ModemStatus& status);

}  // namespace velka::app
