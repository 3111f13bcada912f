// The queue file queue.db: the durable outgoing queue beside the store files. It
// is a journal: entries are only ever appended, each one flushed before it counts,
// and the file is rewritten whole (a new file renamed over the old) only to drop
// what is finished. Every entry carries its own checksum, so a torn tail or a
// damaged entry is found, kept aside and passed over. The format is written down
// in docs/queue-format.md.
//
// Who writes: any process or thread appends records (AppendRecords), under the
// file lock queue.db.lock, which serialises the writers of all processes; the
// front end appends a Finished entry for a record the user removed. Only the
// workers, whose process holds the modem lock, append the other entries; one of
// them at a time (app::PoolShare::reading) reads the file and rewrites it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/outgoing_queue.h"
#include "platform/result.h"
#include "store/framed_file.h"

namespace velka::app {

// A fresh record id: random, so that processes queuing into one file at the same
// time never give the same id. Any thread.
std::uint64_t NewRecordId();

// What a reading of the file could not make sense of, kept aside.
using QueueDamage = store::KeptAside;

class QueueFile {
  public:
    // `path`: queue.db in the program directory. Touches no file yet.
    explicit QueueFile(std::string path);

    const std::string& path() const { return path_; }

    // Appends the records as one write and one flush, their routes to queue.sims
    // before them. When it returns true the records survive a crash. Any thread,
    // any process.
    Status AppendRecords(std::span<const QueuedRecord> records) const;

    // The worker's entries. Each is flushed before it returns. Worker's thread.
    // The modem confirmed the record's first `record.confirmed` messages; for the
    // last one, `outbox_size` is outbox.db's size at that moment (where the record
    // will be appended, unless records the disk refused earlier go first).
    // `finished`: records finished earlier whose Finished entries ride along in
    // the same write, so that they cost no flush of their own. The reference the
    // modem gave the last confirmed message (record.sent) goes in the same write.
    Status AppendConfirmed(const QueuedRecord& record, std::uint64_t outbox_size,
                           std::span<const std::uint64_t> finished = {}) const;
    // The first message of a record of several went through `record.sim`: noted,
    // flushed, in queue.sims before the note of its confirmation, so that after a
    // restart the rest of the text still goes through that SIM. Worker's thread.
    Status AppendSim(const QueuedRecord& record) const;
    // The record failed again: its attempts, the moment of its next attempt and
    // the modem's refusal, if it gave one, in one write.
    Status AppendRetry(const QueuedRecord& record) const;
    // The records are finished: recorded in outbox.db or unsent.db, or removed
    // from the queue by the user. The one entry besides AppendRecords that the
    // front end's thread writes too (a removal), serialised with the others by the
    // file lock.
    Status AppendFinished(std::span<const std::uint64_t> ids) const;

    struct Reading {
        std::vector<QueuedRecord> records;  // in queue order
        std::vector<QueueDamage> damage;    // empty when every byte was read
    };
    // Worker's thread. The records not yet finished, with their progress; the file
    // is then rewritten with those alone, and unreadable bytes are kept aside.
    // A missing file is an empty queue. Until a Load has succeeded, ReadNew must
    // not be called: it passes over what is finished only after a Load.
    Result<Reading> Load();
    // Worker's thread. The records that other writers queued since the last Load
    // or ReadNew. Unreadable bytes are kept aside.
    Result<Reading> ReadNew();
    // Worker's thread. Whether the file grew since the worker last read it:
    // cheap, for looking on every pass.
    bool HasNew() const;
    // How many records wait (queued and not finished). Any thread, any process.
    Result<std::size_t> CountWaiting() const;
    // Worker's thread. When nothing was queued since the last reading, replaces
    // the file with `live` alone (what is finished drops out); otherwise leaves it
    // for a later call, so that no record queued meanwhile is lost.
    Status Compact(std::span<const QueuedRecord> live);

  private:
    // Reads from `offset_` to the end, under the file lock held by the caller.
    Result<Reading> ReadFromOffset(bool fold_progress);
    // Gives the records their routes and those begun the SIM queue.sims names for
    // them, and rewrites the file with those alone; under the file lock held by
    // the caller. What it could not read is kept aside and told.
    Result<std::optional<QueueDamage>> LoadSims(std::vector<QueuedRecord>& records) const;
    // Gives records just queued the routes queue.sims names for them; under the
    // file lock held by the caller.
    void LoadRoutes(std::vector<QueuedRecord>& records) const;

    const std::string path_;
    const std::string lock_path_;
    const std::string sims_path_;  // queue.sims
    // Bytes read so far: written by the worker that holds the pool's reading, looked
    // at by any worker of the pool (HasNew) while it listens on its modem.
    std::atomic<std::uint64_t> offset_{0};
};

}  // namespace velka::app
