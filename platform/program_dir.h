// Where the program keeps Config.ini, inbox.db, outbox.db and the registry stand-in.
#pragma once

#include <string>

namespace velka {

// The directory of the running executable without a trailing separator, or the
// value of VELKA_HOME when that is set (tests and side-by-side instances use it).
// Any thread.
std::string ProgramDirectory();

// ProgramDirectory() followed by the separator and `name`.
std::string ProgramFile(const std::string& name);

}  // namespace velka
