// Permission checks as an ordinary user would meet them. Root passes every file
// permission check, so under root (a container, CI) the check runs in a child
// process that has become the unprivileged user "nobody" (65534); under any other
// user it runs in a child as that user. POSIX.
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace velka::testing {

inline constexpr uid_t kNobody = 65534;

// What `check` returned in the child; nothing when the child could not become the
// unprivileged user or died. Blocks until the child ends. Call it while this
// process has no other threads: only the calling thread goes on in the child.
inline std::optional<bool> AsUnprivilegedUser(const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(2);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return std::nullopt;
    if (WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

}  // namespace velka::testing
