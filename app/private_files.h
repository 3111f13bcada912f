// The client's files kept from other users of the machine: what a front end calls
// once at start-up, before its core starts, to close files an earlier version left
// open to others (files created since are private from the start, see
// platform/file_access.h).
#pragma once

#include <string>

namespace velka::app {

// Takes the group's and others' permissions away from the client's files in
// `program_directory` that have any: Config.ini, the store files (inbox.db,
// outbox.db, unsent.db), queue.db, reports.db and every file beside them named
// after one of them (inbox.parts, outbox.states, inbox.sims, queue.db.lock, ...), every *.lock
// file, events.db, webhooks-secrets.ini and sim-counters.db, and the registry stand-in's file with
// its -wal and -shm, wherever VELKA_REGISTRY puts it. Gives the line a front end shows, in
// Windows-1251, with the names of the files it changed or could not change; empty when every file
// was private already (always on Windows). Blocks on the disk; front end's thread.
std::string MakeClientFilesPrivate(const std::string& program_directory);

}  // namespace velka::app
