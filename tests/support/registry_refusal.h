// Makes the registry stand-in's file refuse changes, as a full disk or a file the
// user may not write would, for tests of what a refused change leaves behind.
// Running as root makes a read-only file writable all the same, so the refusal is
// kept inside the file instead (SQLite triggers on the stand-in's tables): every
// connection to the file sees it, the one a Registry already holds included, and
// reading goes on as before. The stand-in only: on Windows the registry is the
// system's.
#pragma once

#include <string>

namespace velka::testing {

enum class RegistryRefusal {
    EveryChange,  // creating, writing and deleting keys and values
    Deletions,    // deleting keys and values only; writing still works
    NewKeys,      // creating keys only; values of existing keys can still be written
};

// The reason the refused calls give, inside the registry's message.
inline constexpr char kRefusalReason[] = "the test refuses this change";

// Throws std::runtime_error when the file cannot be prepared.
void RefuseRegistryChanges(const std::string& registry_file, RegistryRefusal refusal);

}  // namespace velka::testing
