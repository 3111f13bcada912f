#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/registry_refusal.h"

namespace velka::testing {
namespace {

// One trigger per table and statement kind; RAISE(ABORT) makes the statement,
// and with it the registry call's transaction, fail with the reason as its message.
std::string RefusalTriggers(RegistryRefusal refusal) {
    std::vector<std::string> kinds = {"DELETE"};
    if (refusal == RegistryRefusal::EveryChange) kinds.insert(kinds.end(), {"INSERT", "UPDATE"});
    if (refusal == RegistryRefusal::NewKeys) kinds = {"INSERT"};
    std::vector<std::string> tables = {"keys", "key_values"};
    if (refusal == RegistryRefusal::NewKeys) tables = {"keys"};
    std::string sql;
    for (const std::string& table : tables) {
        for (const std::string& kind : kinds) {
            sql += "CREATE TRIGGER IF NOT EXISTS refuse_" + kind + "_" + table + " BEFORE " + kind +
                   " ON " + table + " BEGIN SELECT RAISE(ABORT, '" + kRefusalReason + "'); END;";
        }
    }
    return sql;
}

}  // namespace

void RefuseRegistryChanges(const std::string& registry_file, RegistryRefusal refusal) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(registry_file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, RefusalTriggers(refusal).c_str(), nullptr, nullptr, nullptr);
    const std::string detail = sqlite3_errmsg(db);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot make " + registry_file + " refuse changes: " + detail);
}

}  // namespace velka::testing
