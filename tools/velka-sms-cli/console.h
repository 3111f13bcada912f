// What velka-sms-cli needs of the system's console: its arguments as UTF-8 and a
// wait for Ctrl-C (or a request to end). One implementation per system.
#pragma once

#include <string>
#include <vector>

namespace velka::cli {

// The command line's arguments after the program name, as UTF-8 (on Windows read
// as UTF-16, since main's arguments are in the ANSI code page there). Also makes
// the console show UTF-8 output where it needs telling.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Call before any thread starts: from then on Ctrl-C and requests to end no longer
// end the process but end WaitForInterrupt.
void CatchInterrupts();
void WaitForInterrupt();

}  // namespace velka::cli
