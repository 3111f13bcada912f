#include "platform/program_dir.h"

#include <cstdlib>

namespace velka {

std::string ChooseProgramDirectory(const DirectoryFacts& facts) {
    if (!facts.home.empty()) return facts.home;
    if (facts.executable_directory_usable || facts.user_data_directory.empty()) {
        return facts.executable_directory;
    }
    return facts.user_data_directory;
}

std::string ProgramDirectory() {
    DirectoryFacts facts;
    if (const char* home = std::getenv("VELKA_HOME"); home != nullptr && *home != '\0') {
        facts.home = home;
        while (facts.home.size() > 1 && (facts.home.back() == '/' || facts.home.back() == '\\')) {
            facts.home.pop_back();
        }
        return facts.home;
    }
    facts.executable_directory = ExecutableDirectory();
    facts.executable_directory_usable = UsableProgramDirectory(facts.executable_directory);
    if (!facts.executable_directory_usable) facts.user_data_directory = UserDataDirectory();
    std::string chosen = ChooseProgramDirectory(facts);
    // A folder that cannot be made is left to the first file written in it, whose
    // failure names the path and the system's reason.
    if (chosen == facts.user_data_directory) MakeDataDirectory(chosen);
    return chosen;
}

}  // namespace velka
