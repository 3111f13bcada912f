// The registry stand-in: one SQLite file holding a tree of keys and their values.
//
// Names and string data are kept as UTF-8 so that the sqlite3 shell shows them
// readably; beside each name its upper-case form ("fold", see Fold) is the
// identity the lookups and the sort use. Every call is one transaction. Several
// processes share the file in WAL mode (readers and the writer do not block each
// other) with a busy timeout; writers take the write lock when they begin.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>

#include "platform/codepage.h"
#include "platform/file_access.h"
#include "platform/mutex.h"
#include "platform/program_dir.h"
#include "platform/registry.h"

namespace velka {
namespace {

// How long a call waits for another process's transaction before it gives up.
constexpr std::chrono::milliseconds kBusyTimeout{30000};
constexpr std::chrono::milliseconds kLongestPause{50};
constexpr int kSchemaVersion = 1;
constexpr std::int64_t kRootId = 1;
// The type numbers Windows gives REG_SZ and REG_DWORD, so that the file reads familiar.
constexpr int kStringType = 1;
constexpr int kDWordType = 4;

constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
    id     INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES keys(id),
    name   TEXT NOT NULL,   -- as created, UTF-8
    fold   BLOB NOT NULL,   -- upper case of the name in UTF-16BE: its identity and sort order
    UNIQUE(parent, fold));
CREATE TABLE key_values(
    id     INTEGER PRIMARY KEY,   -- creation order
    key_id INTEGER NOT NULL REFERENCES keys(id),
    name   TEXT NOT NULL,
    fold   BLOB NOT NULL,
    type   INTEGER NOT NULL,      -- 1 REG_SZ (data is UTF-8 text), 4 REG_DWORD (data is an integer)
    data   NOT NULL,
    UNIQUE(key_id, fold));
INSERT INTO keys(id, parent, name, fold) VALUES(1, NULL, '', x'');
PRAGMA user_version = 1;
)sql";

RegistryError Failure(RegistryFailure failure, std::string message) {
    return RegistryError{failure, std::move(message), 0};
}

// The identity of a name: its Windows-1251 upper case, as UTF-16 big-endian so
// that byte order is the order of the characters' Unicode values, which is how
// Windows sorts subkeys (Latin before Cyrillic, "Ё" before "А").
std::string Fold(std::string_view name) {
    std::string fold;
    for (const char16_t unit : codepage::ToUtf16(codepage::Upper(name))) {
        fold += static_cast<char>(unit >> 8);
        fold += static_cast<char>(unit & 0xFF);
    }
    return fold;
}

std::string Quoted(std::string_view cp1251) {
    return "\"" + codepage::ToUtf8(cp1251) + "\"";
}

// One prepared statement. Failures are thrown as RegistryError and caught by
// Impl::Transact, the single place that turns them into results.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        Check(sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Text and blobs are bound without a copy: the caller keeps them alive until
    // the last Step().
    Statement& Bind(int index, std::int64_t number) {
        Check(sqlite3_bind_int64(stmt_, index, number));
        return *this;
    }
    Statement& BindText(int index, std::string_view utf8) {
        Check(sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()),
                                SQLITE_STATIC));
        return *this;
    }
    Statement& BindBlob(int index, std::string_view bytes) {
        Check(sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_STATIC));
        return *this;
    }

    // True while there is a row to read.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        Check(rc);
        return false;
    }

    std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
    int Type(int column) { return sqlite3_column_type(stmt_, column); }
    std::string Text(int column) {
        const auto* text = sqlite3_column_text(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return text == nullptr ? std::string()
                               : std::string(reinterpret_cast<const char*>(text),
                                             static_cast<std::size_t>(size));
    }

  private:
    void Check(int rc) {
        if (rc == SQLITE_OK) return;
        const char* file = sqlite3_db_filename(db_, "main");
        throw RegistryError{RegistryFailure::StoreFailed,
                            std::string("The registry file \"") + (file ? file : "") +
                                "\" failed: " + sqlite3_errmsg(db_) + ".",
                            rc};
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// The names of a key path, leading backslash allowed; "" and "\" are the root.
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> names;
    std::string_view rest = path;
    if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    if (rest.empty()) return names;
    while (true) {
        const auto slash = rest.find('\\');
        names.emplace_back(rest.substr(0, slash));
        if (names.back().empty()) {
            throw Failure(RegistryFailure::InvalidName,
                          "The registry key path " + Quoted(path) + " holds an empty key name.");
        }
        if (slash == std::string_view::npos) return names;
        rest.remove_prefix(slash + 1);
    }
}

std::optional<std::int64_t> FindChild(sqlite3* db, std::int64_t parent, const std::string& name) {
    const std::string fold = Fold(name);
    Statement find(db, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    find.Bind(1, parent).BindBlob(2, fold);
    if (!find.Step()) return std::nullopt;
    return find.Int(0);
}

std::int64_t InsertChild(sqlite3* db, std::int64_t parent, const std::string& name) {
    const std::string utf8 = codepage::ToUtf8(name);
    const std::string fold = Fold(name);
    Statement insert(db, "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
    insert.Bind(1, parent).BindText(2, utf8).BindBlob(3, fold);
    insert.Step();
    return sqlite3_last_insert_rowid(db);
}

std::int64_t FindKey(sqlite3* db, const std::string& path) {
    std::int64_t id = kRootId;
    for (const std::string& name : SplitPath(path)) {
        const auto child = FindChild(db, id, name);
        if (!child) {
            throw Failure(RegistryFailure::KeyNotFound,
                          "The registry key " + Quoted(path) + " does not exist.");
        }
        id = *child;
    }
    return id;
}

std::int64_t FindOrCreateKey(sqlite3* db, const std::string& path) {
    const auto names = SplitPath(path);
    if (names.empty()) {
        throw Failure(RegistryFailure::InvalidName, "An empty registry key path names no key.");
    }
    std::int64_t id = kRootId;
    for (const std::string& name : names) {
        const auto child = FindChild(db, id, name);
        id = child ? *child : InsertChild(db, id, name);
    }
    return id;
}

constexpr const char* kValueQuery =
    "SELECT type, data FROM key_values WHERE key_id = ?1 AND fold = ?2";

// Leaves `query` (kValueQuery) on the row of the value, which has the wanted type.
void SeekValue(Statement& query, std::int64_t key, const std::string& path, const std::string& name,
               std::string_view fold, int wanted_type) {
    query.Bind(1, key).BindBlob(2, fold);
    if (!query.Step()) {
        throw Failure(RegistryFailure::ValueNotFound,
                      "The registry key " + Quoted(path) + " holds no value " + Quoted(name) + ".");
    }
    if (query.Int(0) != wanted_type) {
        throw Failure(RegistryFailure::WrongType,
                      "The registry value " + Quoted(name) + " of " + Quoted(path) + " is not a " +
                          (wanted_type == kStringType ? "string" : "DWORD") + ".");
    }
}

void WriteValue(sqlite3* db, const std::string& path, const std::string& name, int type,
                const std::function<void(Statement&, int)>& bind_data) {
    const std::int64_t key = FindOrCreateKey(db, path);
    const std::string utf8 = codepage::ToUtf8(name);
    const std::string fold = Fold(name);
    // An update in place keeps the value's row id, so its place in the creation
    // order, and the spelling it was created with.
    Statement upsert(db,
                     "INSERT INTO key_values(key_id, name, fold, type, data) "
                     "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key_id, fold) "
                     "DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.Bind(1, key).BindText(2, utf8).BindBlob(3, fold).Bind(4, type);
    bind_data(upsert, 5);
    upsert.Step();
}

}  // namespace

std::string MachineRegistryFile() {
    if (const char* path = std::getenv("VELKA_REGISTRY"); path != nullptr && *path != '\0') {
        return path;
    }
    return ProgramFile("registry.db");
}

struct Registry::Impl {
    explicit Impl(std::string file) : path(std::move(file)) {}
    ~Impl() { sqlite3_close(db); }

    // Runs `body` inside one transaction on the open file and turns every failure
    // thrown inside into the result. Writers take the write lock at the start, so
    // a busy file is waited for (busy timeout) instead of failing half-way.
    template <typename T, typename Body>
    RegistryResult<T> Transact(bool write, Body&& body) EXCLUDES(mutex) {
        MutexLock lock(mutex);
        const auto deadline = std::chrono::steady_clock::now() + kBusyTimeout;
        auto pause = std::chrono::milliseconds(1);
        while (true) {
            try {
                return TransactOnce<T>(write, body);
            } catch (const RegistryError& error) {
                // A few moments of WAL (another process opening the file, switching it
                // to WAL or recovering it) answer "busy" at once, without the busy
                // handler; the other process holds a file lock that cannot signal us,
                // so wait a little and begin the whole call again.
                if ((error.system_code & 0xFF) != SQLITE_BUSY ||
                    std::chrono::steady_clock::now() + pause > deadline) {
                    return error;
                }
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, kLongestPause);
        }
    }

    template <typename T, typename Body>
    T TransactOnce(bool write, Body& body) REQUIRES(mutex) {
        sqlite3* open = Open();
        Exec(open, write ? "BEGIN IMMEDIATE" : "BEGIN");
        try {
            T result = body(open);
            Exec(open, "COMMIT");
            return result;
        } catch (...) {
            sqlite3_exec(open, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    template <typename Body>
    RegistryStatus TransactStatus(bool write, Body&& body) EXCLUDES(mutex) {
        auto result = Transact<bool>(write, [&](sqlite3* open) {
            body(open);
            return true;
        });
        if (!result) return result.error();
        return {};
    }

    // The connection, opened (and the schema made) on first use; a failed open is
    // tried again on the next call.
    sqlite3* Open() REQUIRES(mutex) {
        if (db != nullptr) return db;
        // SQLite would make the file 0644 under the umask, and its -wal and -shm
        // take the file's mode: made private first, they all stay private. Should
        // this fail, the open below fails too and says why.
        IgnoreFailure(files::CreatePrivate(path));
        const int rc =
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        try {
            if (rc != SQLITE_OK) throw FileError(rc);
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, static_cast<int>(kBusyTimeout.count()));
            Exec(db, "PRAGMA journal_mode = WAL");
            Exec(db, "PRAGMA synchronous = FULL");
            MakeSchema();
        } catch (const RegistryError&) {
            sqlite3_close(db);
            db = nullptr;
            throw;
        }
        return db;
    }

    void MakeSchema() REQUIRES(mutex) {
        Exec(db, "BEGIN IMMEDIATE");
        try {
            Statement version(db, "PRAGMA user_version");
            version.Step();
            const std::int64_t found = version.Int(0);
            if (found == 0) {
                Exec(db, kSchema);
            } else if (found != kSchemaVersion) {
                throw Failure(RegistryFailure::StoreFailed,
                              "The registry file \"" + path + "\" has an unknown layout (version " +
                                  std::to_string(found) + ").");
            }
            Exec(db, "COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void Exec(sqlite3* open, const char* sql) REQUIRES(mutex) {
        const int rc = sqlite3_exec(open, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) throw FileError(sqlite3_extended_errcode(open));
    }

    RegistryError FileError(int rc) const REQUIRES(mutex) {
        const char* detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        return RegistryError{RegistryFailure::StoreFailed,
                             "The registry file \"" + path + "\" cannot be used: " + detail + ".",
                             rc};
    }

    const std::string path;
    Mutex mutex;
    sqlite3* db GUARDED_BY(mutex) = nullptr;
};

Registry& Registry::Machine() {
    static Registry machine(MachineRegistryFile());
    return machine;
}

Registry::Registry(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
Registry::~Registry() = default;

RegistryStatus Registry::CreateKey(const std::string& path) {
    return impl_->TransactStatus(true, [&](sqlite3* db) { FindOrCreateKey(db, path); });
}

bool Registry::KeyExists(const std::string& path) {
    return impl_->TransactStatus(false, [&](sqlite3* db) { FindKey(db, path); }).ok();
}

RegistryStatus Registry::DeleteKey(const std::string& path) {
    return impl_->TransactStatus(true, [&](sqlite3* db) {
        const std::int64_t key = FindKey(db, path);
        if (key == kRootId) {
            throw Failure(RegistryFailure::InvalidName, "The registry root cannot be deleted.");
        }
        constexpr const char* kSubtree =
            "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL "
            "SELECT keys.id FROM keys JOIN subtree ON keys.parent = subtree.id) ";
        Statement values(db, (std::string(kSubtree) +
                              "DELETE FROM key_values WHERE key_id IN (SELECT id FROM subtree)")
                                 .c_str());
        values.Bind(1, key).Step();
        Statement keys(
            db, (std::string(kSubtree) + "DELETE FROM keys WHERE id IN (SELECT id FROM subtree)")
                    .c_str());
        keys.Bind(1, key).Step();
    });
}

RegistryResult<std::vector<std::string>> Registry::SubKeys(const std::string& path) {
    return impl_->Transact<std::vector<std::string>>(false, [&](sqlite3* db) {
        Statement list(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold");
        list.Bind(1, FindKey(db, path));
        std::vector<std::string> names;
        while (list.Step()) names.push_back(codepage::FromUtf8(list.Text(0)));
        return names;
    });
}

RegistryResult<std::vector<RegistryValueInfo>> Registry::Values(const std::string& path) {
    return impl_->Transact<std::vector<RegistryValueInfo>>(false, [&](sqlite3* db) {
        Statement list(db, "SELECT name, type, data FROM key_values WHERE key_id = ?1 ORDER BY id");
        list.Bind(1, FindKey(db, path));
        std::vector<RegistryValueInfo> values;
        while (list.Step()) {
            RegistryValueInfo value{
                codepage::FromUtf8(list.Text(0)), RegistryValueType::String, {}};
            if (list.Int(1) == kDWordType) {
                value.type = RegistryValueType::DWord;
            } else {
                value.text = codepage::FromUtf8(list.Text(2));
            }
            values.push_back(std::move(value));
        }
        return values;
    });
}

RegistryResult<std::string> Registry::ReadString(const std::string& path, const std::string& name) {
    return impl_->Transact<std::string>(false, [&](sqlite3* db) {
        Statement query(db, kValueQuery);
        const std::string fold = Fold(name);
        SeekValue(query, FindKey(db, path), path, name, fold, kStringType);
        return codepage::FromUtf8(query.Text(1));
    });
}

RegistryResult<std::uint32_t> Registry::ReadDWord(const std::string& path,
                                                  const std::string& name) {
    return impl_->Transact<std::uint32_t>(false, [&](sqlite3* db) {
        Statement query(db, kValueQuery);
        const std::string fold = Fold(name);
        SeekValue(query, FindKey(db, path), path, name, fold, kDWordType);
        const std::int64_t data = query.Int(1);
        // Only a hand-edited file holds anything else; say so rather than truncate.
        if (query.Type(1) != SQLITE_INTEGER || data < 0 || data > 0xFFFFFFFF) {
            throw Failure(RegistryFailure::StoreFailed, "The registry value " + Quoted(name) +
                                                            " of " + Quoted(path) +
                                                            " holds no valid DWORD.");
        }
        return static_cast<std::uint32_t>(data);
    });
}

RegistryStatus Registry::WriteString(const std::string& path, const std::string& name,
                                     const std::string& value) {
    const std::string utf8 = codepage::ToUtf8(value);
    return impl_->TransactStatus(true, [&](sqlite3* db) {
        WriteValue(db, path, name, kStringType,
                   [&](Statement& statement, int index) { statement.BindText(index, utf8); });
    });
}

Registry::BatchWrite Registry::WriteStrings(
    const std::string& path, const std::vector<std::pair<std::string, std::string>>& names_values) {
    BatchWrite batch;
    batch.status = impl_->TransactStatus(true, [&](sqlite3* db) {
        for (const auto& [name, value] : names_values) {
            const std::string utf8 = codepage::ToUtf8(value);
            WriteValue(db, path, name, kStringType,
                       [&](Statement& statement, int index) { statement.BindText(index, utf8); });
        }
    });
    if (batch.status) batch.written = names_values.size();
    return batch;
}

RegistryStatus Registry::WriteDWord(const std::string& path, const std::string& name,
                                    std::uint32_t value) {
    return impl_->TransactStatus(true, [&](sqlite3* db) {
        WriteValue(db, path, name, kDWordType,
                   [&](Statement& statement, int index) { statement.Bind(index, value); });
    });
}

RegistryStatus Registry::DeleteValue(const std::string& path, const std::string& name) {
    return impl_->TransactStatus(true, [&](sqlite3* db) {
        const std::string fold = Fold(name);
        Statement remove(db, "DELETE FROM key_values WHERE key_id = ?1 AND fold = ?2");
        remove.Bind(1, FindKey(db, path)).BindBlob(2, fold).Step();
        if (sqlite3_changes(db) == 0) {
            throw Failure(
                RegistryFailure::ValueNotFound,
                "The registry key " + Quoted(path) + " holds no value " + Quoted(name) + ".");
        }
    });
}

}  // namespace velka
