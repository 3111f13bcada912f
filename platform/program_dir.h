// Where the program keeps Config.ini, the store files, the files beside them and the
// registry stand-in: beside the program when it may be (a program run from the
// folder it was built or unpacked in), else in the user's own data folder (an
// installed program, whose folder the user cannot write).
#pragma once

#include <string>

namespace velka {

// The folder of the program's files, without a trailing separator. Any thread; each
// call looks afresh (cheap), and may create the user's data folder. The rule
// (ChooseProgramDirectory) is the same for every program of the project, so the
// window and the tools always find one another's files.
std::string ProgramDirectory();

// What the choice of that folder depends on, as the system answers it.
struct DirectoryFacts {
    std::string home;                          // VELKA_HOME; empty when unset
    std::string executable_directory;          // the running program's folder
    bool executable_directory_usable = false;  // the user may write there and it is
                                               // not one of the system's program folders
    std::string user_data_directory;           // empty when the system names none
};

// VELKA_HOME when set (tests and side-by-side instances use it); else the program's
// folder when usable; else the user's data folder; else, when the system names no
// user folder either, the program's folder, whose files then fail naming it. Pure.
std::string ChooseProgramDirectory(const DirectoryFacts& facts);

// The directory of the running executable, without a trailing separator ("." when
// the system will not say). Any thread.
std::string ExecutableDirectory();

// Whether the program may keep its files in `directory`: the user may create files
// there and it is not one of the system's own program folders (/usr/bin and the
// like, writable by root but never the place for one user's messages). On Windows,
// whether a file can be created there (Program Files: no, without elevation).
bool UsableProgramDirectory(const std::string& directory);

// The user's data folder for this program: $XDG_DATA_HOME/velka-sms when that is an
// absolute path, else $HOME/.local/share/velka-sms; on Windows
// %LOCALAPPDATA%\Velka SMS. Empty when the environment names no such place.
std::string UserDataDirectory();

// Creates `directory` and the folders above it that are missing, private to the user
// (0700 on POSIX). True when it is a directory afterwards.
bool MakeDataDirectory(const std::string& directory);

// `directory` followed by the system's path separator and `name`, so that paths
// read as the user's system writes them ("C:\\Velka\\inbox.db" on Windows).
std::string InDirectory(const std::string& directory, const std::string& name);

// ProgramDirectory() followed by the separator and `name`.
inline std::string ProgramFile(const std::string& name) {
    return InDirectory(ProgramDirectory(), name);
}

}  // namespace velka
