// The registry on Windows: HKEY_LOCAL_MACHINE through ADVAPI32. Names and string
// data travel as UTF-16 (converted from and to Windows-1251 here), so the keys
// read the same whatever the system's ANSI code page is.
//
// A Registry made for a stand-in file (tests, through VELKA_REGISTRY) keeps its
// tree in a private key of HKEY_CURRENT_USER named after the file instead, so that
// tests never touch the machine's keys or see each other's; "" names the machine.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/win32_error.h"

namespace velka {

namespace {

struct Root {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::u16string base;  // the key standing for the root; empty for the machine
};

constexpr std::u16string_view kStandInRoots = u"Software\\Velka\\Registry stand-ins";

// (Built by appending: GCC 12 warns falsely on "literal" + std::string at -O3.)
std::string Quoted(const std::string& cp1251) {
    std::string quoted(1, '"');
    quoted += codepage::ToUtf8(cp1251);
    quoted += '"';
    return quoted;
}

RegistryError Failure(RegistryFailure failure, std::string message, LONG code = 0) {
    return RegistryError{failure, std::move(message), static_cast<int>(code)};
}

RegistryError StoreFailure(const std::string& what, LONG code) {
    return Failure(RegistryFailure::StoreFailed,
                   what + ": " + codepage::ToUtf8(win32::ErrorText(static_cast<DWORD>(code))),
                   code);
}

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The relative key path as the API takes it, or InvalidName for an empty name
// inside it. "" and "\" name the root and give an empty path.
Result<std::u16string, RegistryError> KeyPath(const Root& impl, const std::string& path) {
    std::string_view rest = path;
    if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    if (rest.starts_with('\\') || rest.ends_with('\\') || rest.find("\\\\") != rest.npos) {
        return Failure(RegistryFailure::InvalidName,
                       "The registry key path " + Quoted(path) + " holds an empty key name.");
    }
    std::u16string full = impl.base;
    if (!full.empty() && !rest.empty()) full += u'\\';
    return full + codepage::ToUtf16(rest);
}

// An open key, closed when the scope ends.
class Key {
  public:
    Key() = default;
    ~Key() {
        if (handle_ != nullptr) RegCloseKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &handle_; }
    HKEY get() const { return handle_; }

  private:
    HKEY handle_ = nullptr;
};

RegistryStatus OpenKey(const Root& impl, const std::string& path, REGSAM access, Key& key) {
    const auto full = KeyPath(impl, path);
    if (!full) return full.error();
    const LONG code = RegOpenKeyExW(impl.root, Wide(*full), 0, access, key.out());
    if (code == ERROR_FILE_NOT_FOUND) {
        return Failure(RegistryFailure::KeyNotFound,
                       "The registry key " + Quoted(path) + " does not exist.");
    }
    if (code != ERROR_SUCCESS)
        return StoreFailure("Cannot open the registry key " + Quoted(path), code);
    return {};
}

RegistryStatus CreateOrOpenKey(const Root& impl, const std::string& path, Key& key) {
    const auto full = KeyPath(impl, path);
    if (!full) return full.error();
    if (*full == impl.base) {
        return Failure(RegistryFailure::InvalidName, "An empty registry key path names no key.");
    }
    const LONG code = RegCreateKeyExW(impl.root, Wide(*full), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_READ | KEY_WRITE, nullptr, key.out(), nullptr);
    if (code != ERROR_SUCCESS) {
        return StoreFailure("Cannot create the registry key " + Quoted(path), code);
    }
    return {};
}

RegistryError MissingValue(const std::string& path, const std::string& name) {
    return Failure(RegistryFailure::ValueNotFound,
                   "The registry key " + Quoted(path) + " holds no value " + Quoted(name) + ".");
}

RegistryError WrongType(const std::string& path, const std::string& name, const char* wanted) {
    return Failure(RegistryFailure::WrongType, "The registry value " + Quoted(name) + " of " +
                                                   Quoted(path) + " is not " + wanted + ".");
}

// The text of REG_SZ data: UTF-16 up to its first NUL, in Windows-1251.
std::string StringData(const std::vector<BYTE>& data) {
    std::u16string text(data.size() / sizeof(char16_t), u'\0');
    std::copy_n(data.data(), text.size() * sizeof(char16_t), reinterpret_cast<BYTE*>(text.data()));
    text.resize(std::min(text.size(), text.find(u'\0')));
    return codepage::FromUtf16(text);
}

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

Result<RawValue, RegistryError> QueryValue(const Root& impl, const std::string& path,
                                           const std::string& name) {
    Key key;
    if (const RegistryStatus opened = OpenKey(impl, path, KEY_QUERY_VALUE, key); !opened) {
        return opened.error();
    }
    const std::u16string wide_name = codepage::ToUtf16(name);
    RawValue value;
    for (;;) {
        DWORD size = static_cast<DWORD>(value.data.size());
        const LONG code = RegQueryValueExW(key.get(), Wide(wide_name), nullptr, &value.type,
                                           value.data.data(), &size);
        if (code == ERROR_FILE_NOT_FOUND) return MissingValue(path, name);
        if (code == ERROR_SUCCESS && size <= value.data.size()) {
            value.data.resize(size);
            return value;
        }
        if (code != ERROR_SUCCESS && code != ERROR_MORE_DATA) {
            return StoreFailure("Cannot read " + Quoted(name) + " of " + Quoted(path), code);
        }
        value.data.resize(size);  // a value that grew meanwhile is read again
    }
}

bool IsString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

RegistryStatus SetValue(const Root& impl, const std::string& path, const std::string& name,
                        DWORD type, const BYTE* data, DWORD size) {
    Key key;
    if (const RegistryStatus created = CreateOrOpenKey(impl, path, key); !created) return created;
    const LONG code = RegSetValueExW(key.get(), Wide(codepage::ToUtf16(name)), 0, type, data, size);
    if (code != ERROR_SUCCESS) {
        return StoreFailure("Cannot write " + Quoted(name) + " of " + Quoted(path), code);
    }
    return {};
}

// The stand-in file's private root: one key named after the whole path.
std::u16string StandInBase(const std::string& file) {
    std::string name = file;
    std::replace(name.begin(), name.end(), '\\', '/');
    return std::u16string(kStandInRoots) + u"\\" + codepage::ToUtf16(name);
}

}  // namespace

struct Registry::Impl : Root {};

// Even VELKA_REGISTRY names a key here, not a file.
std::string MachineRegistryFile() {
    return {};
}

Registry& Registry::Machine() {
    static Registry machine([] {
        const char* path = std::getenv("VELKA_REGISTRY");
        return std::string(path != nullptr ? path : "");
    }());
    return machine;
}

Registry::Registry(const std::string& path) : impl_(std::make_unique<Impl>()) {
    if (path.empty()) return;
    impl_->root = HKEY_CURRENT_USER;
    impl_->base = StandInBase(path);
}

Registry::~Registry() = default;

RegistryStatus Registry::CreateKey(const std::string& path) {
    Key key;
    return CreateOrOpenKey(*impl_, path, key);
}

bool Registry::KeyExists(const std::string& path) {
    Key key;
    return OpenKey(*impl_, path, KEY_READ, key).ok();
}

RegistryStatus Registry::DeleteKey(const std::string& path) {
    const auto full = KeyPath(*impl_, path);
    if (!full) return full.error();
    if (*full == impl_->base) {
        return Failure(RegistryFailure::InvalidName, "The registry root cannot be deleted.");
    }
    if (!KeyExists(path)) {
        return Failure(RegistryFailure::KeyNotFound,
                       "The registry key " + Quoted(path) + " does not exist.");
    }
    const LONG code = RegDeleteTreeW(impl_->root, Wide(*full));
    if (code != ERROR_SUCCESS) {
        return StoreFailure("Cannot delete the registry key " + Quoted(path), code);
    }
    return {};
}

RegistryResult<std::vector<std::string>> Registry::SubKeys(const std::string& path) {
    Key key;
    if (const RegistryStatus opened = OpenKey(*impl_, path, KEY_ENUMERATE_SUB_KEYS, key); !opened) {
        // A stand-in root that nothing was written to yet is an empty root.
        if (opened.error().failure == RegistryFailure::KeyNotFound && KeyPath(*impl_, path).ok() &&
            *KeyPath(*impl_, path) == impl_->base) {
            return std::vector<std::string>{};
        }
        return opened.error();
    }
    std::vector<std::string> names;
    std::vector<wchar_t> name(256);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG code = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr,
                                        nullptr, nullptr);
        if (code == ERROR_NO_MORE_ITEMS) break;
        if (code != ERROR_SUCCESS) return StoreFailure("Cannot list " + Quoted(path), code);
        names.push_back(
            codepage::FromUtf16({reinterpret_cast<const char16_t*>(name.data()), length}));
    }
    // Windows lists in this order already; other implementations of the API may not.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return codepage::ToUtf16(codepage::Upper(a)) < codepage::ToUtf16(codepage::Upper(b));
    });
    return names;
}

RegistryResult<std::vector<RegistryValueInfo>> Registry::Values(const std::string& path) {
    Key key;
    if (const RegistryStatus opened = OpenKey(*impl_, path, KEY_QUERY_VALUE, key); !opened) {
        return opened.error();
    }
    DWORD longest_name = 0;
    DWORD longest_data = 0;
    LONG code = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &longest_name, &longest_data, nullptr, nullptr);
    if (code != ERROR_SUCCESS) return StoreFailure("Cannot list " + Quoted(path), code);
    std::vector<wchar_t> name(longest_name + 1);
    std::vector<BYTE> data(longest_data);
    std::vector<RegistryValueInfo> values;
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        code = RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type,
                             data.data(), &data_size);
        if (code == ERROR_NO_MORE_ITEMS) break;
        if (code != ERROR_SUCCESS) return StoreFailure("Cannot list " + Quoted(path), code);
        RegistryValueInfo info;
        info.name =
            codepage::FromUtf16({reinterpret_cast<const char16_t*>(name.data()), name_length});
        info.type = IsString(type) ? RegistryValueType::String : RegistryValueType::DWord;
        if (IsString(type)) {
            info.text = StringData({data.begin(), data.begin() + data_size});
        }
        values.push_back(std::move(info));
    }
    return values;
}

RegistryResult<std::string> Registry::ReadString(const std::string& path, const std::string& name) {
    const auto value = QueryValue(*impl_, path, name);
    if (!value) return value.error();
    if (!IsString(value->type)) return WrongType(path, name, "a string");
    return StringData(value->data);
}

RegistryResult<std::uint32_t> Registry::ReadDWord(const std::string& path,
                                                  const std::string& name) {
    const auto value = QueryValue(*impl_, path, name);
    if (!value) return value.error();
    if (value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
        return WrongType(path, name, "a DWORD");
    }
    DWORD number = 0;
    std::copy_n(value->data.data(), sizeof number, reinterpret_cast<BYTE*>(&number));
    return static_cast<std::uint32_t>(number);
}

RegistryStatus Registry::WriteString(const std::string& path, const std::string& name,
                                     const std::string& value) {
    const std::u16string text = codepage::ToUtf16(value);
    return SetValue(*impl_, path, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

Registry::BatchWrite Registry::WriteStrings(
    const std::string& path, const std::vector<std::pair<std::string, std::string>>& names_values) {
    BatchWrite batch;
    for (const auto& [name, value] : names_values) {
        batch.status = WriteString(path, name, value);
        if (!batch.status) break;
        ++batch.written;
    }
    return batch;
}

RegistryStatus Registry::WriteDWord(const std::string& path, const std::string& name,
                                    std::uint32_t value) {
    const DWORD number = value;
    return SetValue(*impl_, path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                    sizeof number);
}

RegistryStatus Registry::DeleteValue(const std::string& path, const std::string& name) {
    Key key;
    if (const RegistryStatus opened = OpenKey(*impl_, path, KEY_SET_VALUE, key); !opened) {
        return opened;
    }
    const LONG code = RegDeleteValueW(key.get(), Wide(codepage::ToUtf16(name)));
    if (code == ERROR_FILE_NOT_FOUND) return MissingValue(path, name);
    if (code != ERROR_SUCCESS) {
        return StoreFailure("Cannot delete " + Quoted(name) + " of " + Quoted(path), code);
    }
    return {};
}

}  // namespace velka
