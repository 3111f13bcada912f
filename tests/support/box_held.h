// The box lock for a test that writes store files as fixtures, in one expression:
// store::Save(BoxHeld(path), path, records). The lock lives to the end of the
// full expression. A lock that cannot be had fails the test program at once:
// every fixture's directory is the test's own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "store/box_lock.h"
#include "store/parts_file.h"
#include "store/store_file.h"

namespace velka::testing {

inline store::BoxLock BoxHeld(const std::string& box_path) {
    auto held = store::BoxLock::Take(box_path);
    if (!held) {
        std::fprintf(stderr, "cannot lock the store files beside %s: %s\n", box_path.c_str(),
                     held.error().message.c_str());
        std::abort();
    }
    return std::move(*held);
}

// Whether no one holds the box lock: a view or a delete that kept it would block
// every other process's writes.
inline bool BoxLockFree(const std::string& box_path) {
    auto taken = LockFile::TryAcquireNamed(store::BoxLockPath(box_path));
    return taken && std::holds_alternative<LockFile>(*taken);
}

// Removes the records now at `positions` of the store file, as the window removes
// what it shows: by position and bytes.
inline Status RemoveRecordsAt(const std::string& box_path,
                              const std::vector<std::size_t>& positions) {
    const auto records = store::Load(box_path);
    if (!records) return records.error();
    std::vector<store::RecordToRemove> wanted;
    for (const std::size_t position : positions)
        wanted.push_back({position, records->at(position)});
    return store::RemoveRecords(BoxHeld(box_path), box_path, wanted);
}

}  // namespace velka::testing
