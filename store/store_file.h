// The store files inbox.db and outbox.db: headerless sequences of 1076-byte
// records, oldest first. A trailing part shorter than a record is not a record.
//
// Writes are durable (see platform/files.h): a crash never destroys earlier
// records, and a half-written record is never taken for one. Every write takes a
// BoxLock as proof that its caller holds the lock of the store files, which every
// process on the program directory honours (store/box_lock.h).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapped_file.h"
#include "platform/result.h"
#include "store/box_lock.h"
#include "store/packet.h"

namespace velka::store {

// Every record of the file. A missing file is an empty store.
Result<std::vector<packet>> Load(const std::string& path);

// Adds the records at the end of the file (creating it), flushed to the disk
// before returning. A partial tail left by outside damage is dropped first, so
// the new records start on a record boundary. Costs the same whatever the size.
Status Append(const BoxLock& held, const std::string& path, std::span<const packet> records);

// The whole records in the file: where the next appended record will stand, since
// an append cuts a torn tail first. A missing file holds none.
Result<std::uint64_t> RecordCount(const std::string& path);

// The whole records of `record_size` bytes in the file at `path`, for any file of
// fixed-size records; a missing file holds none.
Result<std::uint64_t> WholeRecords(const std::string& path, std::size_t record_size);

// Replaces the whole file with the records.
Status Save(const BoxLock& held, const std::string& path, std::span<const packet> records);

// The file that keeps facts of a store file's records beside it: the store file's
// path with `extension` ("parts", "states") for its own ("inbox.db" gives
// "inbox.parts"), or added where it has none.
std::string SideFilePath(const std::string& box_path, std::string_view extension);

// The file `name` in the directory of `box_path`.
std::string FileBeside(const std::string& box_path, const std::string& name);

// The file of status reports, beside the store files (its records: modem/status_report.h).
inline constexpr const char* kReportsFile = "reports.db";
// reports.db in the directory of `box_path`.
inline std::string ReportsPathBeside(const std::string& box_path) {
    return FileBeside(box_path, kReportsFile);
}

// The records of a file as they were when it was opened, decoded on demand, for
// views over boxes of any size. Cheap to open; a missing file is an empty box.
class BoxFile {
  public:
    static Result<BoxFile> Open(const std::string& path);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // REQUIRES: index < size()
    packet at(std::size_t index) const;
    // at(index).checksum without decoding the rest of the record. REQUIRES: index < size()
    std::uint32_t ChecksumAt(std::size_t index) const;

  private:
    explicit BoxFile(MappedFile file);

    MappedFile file_;
    std::size_t count_ = 0;
};

}  // namespace velka::store
