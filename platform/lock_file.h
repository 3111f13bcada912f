// Locks between processes on a lock file: the one worker per program directory
// (who drives the modem) and the appends to the queue file. Both POSIX flock and
// Win32 LockFileEx tie the lock to an open file, so a killed holder's lock goes
// with it and never has to be cleaned up by hand. Two LockFile objects conflict
// whether they live in two processes or in one.
//
// Any thread; one object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/result.h"

namespace velka {

// Who holds a lock, as the holder wrote it into the lock file.
struct LockHolder {
    std::uint32_t pid = 0;
    std::string program;  // the holder's executable name, as the system gives it
};

class LockFile {
  public:
    // Blocks until the lock on `path` (created when missing) is this object's.
    static Result<LockFile> Acquire(const std::string& path);

    // Takes the lock on `path` without waiting and writes this process's id and
    // program name into the file for others to read. When another holds it, gives
    // what the holder wrote instead (pid 0 when it wrote nothing readable yet).
    static Result<std::variant<LockFile, LockHolder>> TryAcquireNamed(const std::string& path);

    LockFile(LockFile&&) noexcept;
    LockFile& operator=(LockFile&&) noexcept;
    // Releases the lock.
    ~LockFile();

  private:
    // An open lock file: a descriptor or a HANDLE. Closing it (the destructor,
    // one for each system) releases the lock.
    struct Handle {
        explicit Handle(std::intptr_t opened) : native(opened) {}
        ~Handle();
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        std::intptr_t native;
    };
    // The system's half, in lock_file_posix.cpp or lock_file_win32.cpp.
    explicit LockFile(std::unique_ptr<Handle> handle);
    // Opens (creating) the lock file.
    static Result<std::unique_ptr<Handle>> Open(const std::string& path);
    // Takes the lock, waiting for it or not: false when another holds it.
    static Result<bool> Lock(Handle& handle, bool wait, const std::string& path);
    static LockHolder ReadHolder(Handle& handle);
    // The holder's name goes in after the lock is taken, so a reader may see an
    // empty file for a moment; it then names no one rather than the wrong process.
    static void WriteHolder(Handle& handle);

    std::unique_ptr<Handle> handle_;
};

// This process's id and executable name, as TryAcquireNamed writes them.
LockHolder ThisProcess();

// "velka-sms (pid 1234)".
std::string Describe(const LockHolder& holder);

// What a holder writes into the lock file, "<pid> <program>\n", and its reading:
// a holder with pid 0 for a text that is not one (a file still being written).
std::string HolderText(const LockHolder& holder);
LockHolder ParseHolder(std::string_view text);

}  // namespace velka
