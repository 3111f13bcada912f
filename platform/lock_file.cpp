#include "platform/lock_file.h"

namespace velka {

std::string Describe(const LockHolder& holder) {
    if (holder.pid == 0) return "another program";
    const std::string name = holder.program.empty() ? "a program" : holder.program;
    return name + " (pid " + std::to_string(holder.pid) + ")";
}

}  // namespace velka
