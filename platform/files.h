// Durable file writes for the store files and settings: a reader, or a crash at
// any moment, sees either the old contents or the new, never a half-written file.
// The functions block on the disk; any thread, but one writer per file at a time
// (the caller's lock says which).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::files {

bool Exists(const std::string& path);

// The size of the file in bytes, or an Error (a missing file is an error here).
Result<std::uint64_t> Size(const std::string& path);

// What a cheap look tells of a file: its size, its last write time (in the
// system's own units) and which file it is, so that a write by another process is
// noticed without reading the file. A missing file has all three 0.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::uint64_t identity = 0;  // the inode, or the Windows file index
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// The whole file. A missing file is an Error with system_code ENOENT.
Result<std::string> ReadAll(const std::string& path);

// Replaces the file's contents: writes a temporary file beside it, flushes it to
// the disk, renames it over the old one and flushes the directory.
Status SaveDurably(const std::string& path, std::string_view contents);

// Appends at the end, creating the file if needed, and flushes before returning.
// If the file's size is not a multiple of `unit` (a torn earlier append), the
// partial tail is cut off first, so the new data starts on a unit boundary.
Status AppendDurably(const std::string& path, std::string_view data, std::uint64_t unit = 1);

// The directory part of a path without the trailing separator ("" for none).
std::string DirectoryOf(const std::string& path);

}  // namespace velka::files
