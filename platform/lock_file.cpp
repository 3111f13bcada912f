#include "platform/lock_file.h"

#include <charconv>

namespace velka {

std::string Describe(const LockHolder& holder) {
    if (holder.pid == 0) return "another program";
    const std::string name = holder.program.empty() ? "a program" : holder.program;
    return name + " (pid " + std::to_string(holder.pid) + ")";
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
