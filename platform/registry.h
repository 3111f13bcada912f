// The machine-wide registry (HKEY_LOCAL_MACHINE): a tree of keys holding string and
// DWORD values. On Windows it is the system registry; elsewhere a stand-in kept in
// one SQLite file, located by VELKA_REGISTRY, else "registry.db" in the program
// directory. CMake picks the implementation. On Windows, VELKA_REGISTRY (set by the
// tests) moves the tree to a private key of HKEY_CURRENT_USER named after the file,
// so that tests never touch the machine's keys or each other's.
//
// Key paths are Windows-1251 text with backslashes between names, relative to the
// root, a leading backslash allowed: "\SOFTWARE\Velka\SMSConfig"; "" and "\" name
// the root, which can be read and listed but not created or deleted. Key and value
// names compare ignoring letter case through the Windows-1251 upper-case table
// (Latin and Cyrillic) and keep the spelling they were created with.
//
// Every call blocks on the disk; a call that finds the file held by another
// process waits for it up to 30 s, then fails with StoreFailed. A broken or
// unreadable file gives StoreFailed from every call, with the file's name in the
// message; the file is then left as it is.
//
// Thread safety: every member may be called from any thread; calls are serialised
// inside. Two processes may use the same file at once: each call is one transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace velka {

enum class RegistryFailure {
    KeyNotFound,    // the key, or a key on its path, does not exist
    ValueNotFound,  // the key exists but holds no value of that name
    WrongType,      // the value exists but is of the other type
    InvalidName,  // an empty name inside a path ("A\\B"), or an empty key path where one is needed
    StoreFailed,  // the store itself failed (file unreadable, disk full, locked too long)
};

struct RegistryError {
    RegistryFailure failure = RegistryFailure::StoreFailed;
    std::string message;  // a clear sentence, UTF-8
    int system_code = 0;  // the SQLite or Win32 code behind a StoreFailed, else 0
};

template <typename T>
using RegistryResult = Result<T, RegistryError>;
using RegistryStatus = BasicStatus<RegistryError>;

enum class RegistryValueType { String, DWord };

struct RegistryValueInfo {
    std::string name;  // as created
    RegistryValueType type = RegistryValueType::String;
    // The data of a String value, read in the same pass (a listing of a key then
    // costs one call, not one per value); empty for a DWORD.
    std::string text;
};

// The file of the machine registry's stand-in: VELKA_REGISTRY, else "registry.db"
// in the program directory. "" on Windows, where the machine registry is the
// system's and no file of ours. Any thread.
std::string MachineRegistryFile();

class Registry {
  public:
    // The machine registry of this process, opened on first use.
    static Registry& Machine();

    // A registry stand-in in the given file (created when missing). Tests use this.
    // On Windows: the private key named after the file, or with "" the machine's
    // own HKEY_LOCAL_MACHINE. Enumeration orders there are the system's, except
    // that subkeys are sorted as below.
    explicit Registry(const std::string& path);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Opens or creates the key and every key above it.
    RegistryStatus CreateKey(const std::string& path);
    // False also when the store fails.
    bool KeyExists(const std::string& path);
    // Deletes the key with every key and value under it.
    RegistryStatus DeleteKey(const std::string& path);

    // The names of the key's direct subkeys, as created, in name order as Windows
    // orders them: by the Unicode values of the upper-cased names, so Latin before
    // Cyrillic and "Ё" before "А".
    RegistryResult<std::vector<std::string>> SubKeys(const std::string& path);
    // The key's values, in creation order, with the data of the string values.
    RegistryResult<std::vector<RegistryValueInfo>> Values(const std::string& path);

    RegistryResult<std::string> ReadString(const std::string& path, const std::string& name);
    RegistryResult<std::uint32_t> ReadDWord(const std::string& path, const std::string& name);
    // Writing creates the key when it is missing, and replaces a value of either
    // type; a replaced value keeps its place in the creation order and its spelling.
    RegistryStatus WriteString(const std::string& path, const std::string& name,
                               const std::string& value);
    RegistryStatus WriteDWord(const std::string& path, const std::string& name,
                              std::uint32_t value);
    RegistryStatus DeleteValue(const std::string& path, const std::string& name);

    // Writes many string values into one key as one call, as WriteString would one
    // by one, for imports of thousands of values. The stand-in writes them in one
    // transaction: all or none. Windows has no transaction over values: they are
    // written in order and the first refusal stops the rest. `written` says how
    // many are stored in either case.
    struct BatchWrite {
        std::size_t written = 0;
        RegistryStatus status;
    };
    BatchWrite WriteStrings(const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& names_values);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velka
