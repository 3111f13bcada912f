// Who may read the client's files. Messages, contacts, the queue, the settings and
// the registry stand-in are the user's own business, so on POSIX every file the
// client creates is readable and writable by its owner alone (0600), whatever the
// umask, and files left open to others by an earlier version are closed once at
// start-up. On Windows files keep the protection the user's profile gives them:
// these functions create what they must and change nothing else.
//
// Any thread; they block on the disk.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace velka::files {

// Creates an empty file at `path`, private to its owner, unless something is there
// already; an existing file is left exactly as it is. For files that a library
// creates with its own permissions (SQLite makes its files 0644 under the umask,
// and its journals take the database file's): made here first, race-free, the
// library finds the file and keeps it private.
Status CreatePrivate(const std::string& path);

// What MakePrivate changed, as paths, in name order.
struct AccessReport {
    std::vector<std::string> tightened;  // group and other permissions taken away
    std::vector<std::string> refused;    // open to others and could not be changed
    bool empty() const { return tightened.empty() && refused.empty(); }
};

// Takes the group's and others' permissions away from the client's files in
// `directory` that have any, leaving the owner's as they are (0644 becomes 0600).
// A file is the client's when it lies directly in `directory`, is a regular file
// (links are not followed), has no execute bit (the program directory may be the
// build directory, whose executables are not ours to change) and its name is one
// of `names` or begins with one followed by '.' or '-': "inbox" covers inbox.db,
// inbox.parts and inbox.db.tmp, "registry.db" its -wal and -shm; a name "*.lock"
// covers every name that ends in ".lock" (and is longer). A directory that
// cannot be read gives an empty report: the files in it, if any, fail loudly when
// used. Windows: an empty report.
AccessReport MakePrivate(const std::string& directory, std::span<const std::string_view> names);

}  // namespace velka::files
