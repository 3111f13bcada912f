#include "store/box_lock.h"

#include <utility>

#include "store/store_file.h"

namespace velka::store {

std::string BoxLockPath(const std::string& box_path) {
    return FileBeside(box_path, kBoxLockFile);
}

Result<BoxLock> BoxLock::Take(const std::string& box_path) {
    auto file = LockFile::Acquire(BoxLockPath(box_path));
    if (!file) return file.error();
    return BoxLock(std::move(*file));
}

std::optional<BoxLock> TakeForReading(const std::string& box_path) {
    auto held = BoxLock::Take(box_path);
    if (!held) return std::nullopt;
    return std::move(*held);
}

}  // namespace velka::store
