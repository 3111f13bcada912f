// Damage as a disk or a kill leaves it, for the tests of the files that must
// survive it. Header-only; blocks on the disk.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace velka::testing {

// Changes one bit of the byte at `offset` of the file at `path`, in place: the
// file keeps its size, so only a checksum can tell.
inline void FlipByteAt(const std::string& path, std::uint64_t offset) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(static_cast<std::streamoff>(offset));
    const char byte = static_cast<char>(file.get() ^ 0x20);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(byte);
}

}  // namespace velka::testing
