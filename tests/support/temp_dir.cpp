#include "tests/support/temp_dir.h"

#include <filesystem>

namespace velka::testing {

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace velka::testing
