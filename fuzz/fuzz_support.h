// What every fuzz target uses: a check that stops the run as a finding, and a
// scratch file for the readers that take a path.
// Threads: libFuzzer calls a target from one thread; nothing here is shared beyond it.
#pragma once

#include <string>
#include <string_view>

namespace velka::fuzz {

// Prints what failed and where, then aborts: libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char* condition, const char* file, int line);

// Only the digits 0-9 and A-F: how a PDU goes onto the modem line.
bool IsUpperHex(std::string_view text);

// Writes bytes to the file `name` in this process's scratch directory (in /dev/shm
// where it exists, so that the readers see a file without wearing the disk) and
// gives its path. The directory is removed when the process exits normally.
std::string WriteScratchFile(std::string_view name, std::string_view bytes);

// The path of `name` in the scratch directory, for files a target lets the code write.
std::string ScratchPath(std::string_view name);

}  // namespace velka::fuzz

// An invariant of the code under test; checked in every build type.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::velka::fuzz::Fail(#condition, __FILE__, __LINE__))
