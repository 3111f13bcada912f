#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace velka::fuzz {
namespace {

std::filesystem::path MakeScratchDir() {
    const char* tmpdir = std::getenv("TMPDIR");
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                       : tmpdir != nullptr                       ? tmpdir
                                                                                 : "/tmp";
    std::string pattern = (base / "velka-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("velka fuzz: mkdtemp");
        std::abort();
    }
    return pattern;
}

const std::filesystem::path& ScratchDir();

void RemoveScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
}

// Made on first use, removed at a normal exit; a crash leaves it behind for a look.
const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = MakeScratchDir();
    static const bool cleanup_registered = std::atexit(RemoveScratchDir) == 0;
    static_cast<void>(cleanup_registered);
    return dir;
}

}  // namespace

void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

bool IsUpperHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char ch) {
        return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F');
    });
}

std::string ScratchPath(std::string_view name) {
    return (ScratchDir() / name).string();
}

std::string WriteScratchFile(std::string_view name, std::string_view bytes) {
    const std::string path = ScratchPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) Fail("the scratch file was written", __FILE__, __LINE__);
    return path;
}

}  // namespace velka::fuzz
