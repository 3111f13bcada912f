// Where the program keeps Config.ini, inbox.db, outbox.db and the registry stand-in.
#pragma once

#include <string>

namespace velka {

// The directory of the running executable without a trailing separator, or the
// value of VELKA_HOME when that is set (tests and side-by-side instances use it).
// Any thread.
std::string ProgramDirectory();

// `directory` followed by the system's path separator and `name`, so that paths
// read as the user's system writes them ("C:\\Velka\\inbox.db" on Windows).
std::string InDirectory(const std::string& directory, const std::string& name);

// ProgramDirectory() followed by the separator and `name`.
inline std::string ProgramFile(const std::string& name) {
    return InDirectory(ProgramDirectory(), name);
}

}  // namespace velka
