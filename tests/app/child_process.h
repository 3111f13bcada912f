// The child processes of the kill and two-process tests: worker_child run over the
// test's own program directory, its output thrown away. POSIX.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace velka::testing {

// The number in the environment variable `name` (a kill test's rounds or seed, set
// to repeat or lengthen a run), or `fallback` when it is not set.
inline unsigned long EnvironmentNumber(const char* name, unsigned long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtoul(value, nullptr, 10) : fallback;
}

// This process's environment, with VELKA_HOME naming `home`.
inline std::vector<std::string> ChildEnvironment(const std::string& home) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (std::string_view(*variable).rfind("VELKA_HOME=", 0) != 0)
            environment.emplace_back(*variable);
    environment.push_back("VELKA_HOME=" + home);
    return environment;
}

// Starts `program` with one argument; with `input`, its standard input is the read
// end of a pipe whose write end is put there. -1 when it could not start.
inline pid_t SpawnChild(const char* program, const std::string& argument,
                        std::vector<std::string>& environment, int* input = nullptr) {
    std::vector<char*> env;
    for (std::string& variable : environment) env.push_back(variable.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    int pipe_ends[2] = {-1, -1};
    if (input != nullptr && ::pipe(pipe_ends) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], 0);
        posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
    }
    std::string path(program);
    std::string word(argument);
    char* argv[] = {path.data(), word.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (input != nullptr) {
        if (pipe_ends[0] >= 0) ::close(pipe_ends[0]);
        *input = pipe_ends[1];
    }
    return spawned == 0 ? pid : -1;
}

}  // namespace velka::testing
