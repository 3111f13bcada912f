// The lock of the store files of one program directory: inbox.db, outbox.db,
// unsent.db and every file beside them that more than one process may write
// (inbox.parts, inbox.ids, inbox.unread, outbox.states, reports.db). Only one
// process drives the modem, but a window opened beside it deletes messages and
// keeps unread marks, and a rewrite (load, write, rename) that does not exclude
// the driving process's append throws that append away. The lock is a lock file,
// "boxes.lock", beside the stores (platform/lock_file.h), so every process and
// every thread sees it; a killed holder's lock goes with it.
//
// Every function that writes one of those files takes a `const BoxLock&` as
// proof that its caller holds the lock. Held only for the write itself (load,
// write, rename; or one append), never across a modem exchange; in the lock
// order it comes below the outgoing-queue lock and above the port's locks.
// Taking it twice on one thread waits for ever: a holder calls nothing that
// takes it.
#pragma once

#include <optional>
#include <string>

#include "platform/lock_file.h"
#include "platform/result.h"

namespace velka::store {

inline constexpr const char* kBoxLockFile = "boxes.lock";

class BoxLock {
  public:
    // Blocks until the lock of the store files beside `box_path` is this object's.
    // Fails when its lock file can be neither created nor opened (a read-only
    // directory): then no write there could succeed either.
    static Result<BoxLock> Take(const std::string& box_path);

    BoxLock(BoxLock&&) noexcept = default;
    BoxLock& operator=(BoxLock&&) noexcept = default;

  private:
    explicit BoxLock(LockFile file) : file_(std::move(file)) {}

    LockFile file_;
};

// The lock for a reader that wants the store file and the files beside it to
// agree: nothing when it cannot be had (a directory the user may read but not
// write, where no writer can change the files either), and the reader goes on
// without it.
std::optional<BoxLock> TakeForReading(const std::string& box_path);

// The lock file beside `box_path`.
std::string BoxLockPath(const std::string& box_path);

}  // namespace velka::store
