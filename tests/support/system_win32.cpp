// The Windows side of the test support: temporary directories and the environment.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace velka::testing {

TempDir::TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "velka-test-" + std::to_string(random() % 1000000000u);
        const std::string candidate = (base / name).string();
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

}  // namespace velka::testing
