// The POSIX side of the test support: temporary directories and the environment.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace velka::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velka-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

bool RunningUnderWine() {
    return false;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace velka::testing
