#include "platform/lock_file.h"

#include <charconv>

namespace velka {

std::string Describe(const LockHolder& holder) {
    if (holder.pid == 0) return "another program";
    const std::string name = holder.program.empty() ? "a program" : holder.program;
    return name + " (pid " + std::to_string(holder.pid) + ")";
}

LockFile::LockFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
LockFile::LockFile(LockFile&&) noexcept = default;
LockFile& LockFile::operator=(LockFile&&) noexcept = default;
LockFile::~LockFile() = default;

Result<LockFile> LockFile::Acquire(const std::string& path) {
    auto handle = Open(path);
    if (!handle) return handle.error();
    if (const auto taken = Lock(**handle, true, path); !taken) return taken.error();
    return LockFile(std::move(*handle));
}

Result<std::variant<LockFile, LockHolder>> LockFile::TryAcquireNamed(const std::string& path) {
    auto handle = Open(path);
    if (!handle) return handle.error();
    const auto taken = Lock(**handle, false, path);
    if (!taken) return taken.error();
    if (!*taken) return std::variant<LockFile, LockHolder>(ReadHolder(**handle));
    WriteHolder(**handle);
    return std::variant<LockFile, LockHolder>(LockFile(std::move(*handle)));
}

std::string HolderText(const LockHolder& holder) {
    return std::to_string(holder.pid) + " " + holder.program + "\n";
}

LockHolder ParseHolder(std::string_view text) {
    LockHolder holder;
    const char* end_of_text = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), end_of_text, holder.pid);
    if (error != std::errc() || end == end_of_text || *end != ' ') return {};
    const std::string_view program = std::string_view(end + 1, end_of_text);
    holder.program = std::string(program.substr(0, program.find_first_of("\r\n")));
    return holder;
}

}  // namespace velka
