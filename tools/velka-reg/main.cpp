// velka-reg: reads and edits the registry stand-in from the command line, in the
// manner of the Windows "reg" command, for people who debug contacts and devices.
// Texts on the command line and in the output are UTF-8; the registry holds
// Windows-1251, so conversion happens here and a character the code page lacks is
// refused rather than stored as "?".
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace velka {
namespace {

constexpr const char* kUsage =
    "usage: velka-reg query KEY [/v NAME]\n"
    "       velka-reg add KEY [/v NAME [/t REG_SZ|REG_DWORD] [/d DATA]] [/f]\n"
    "       velka-reg delete KEY [/v NAME] /f\n"
    "KEY is HKLM\\PATH or HKEY_LOCAL_MACHINE\\PATH. The registry file is $VELKA_REGISTRY,\n"
    "else registry.db in the program directory ($VELKA_HOME, else the program's own).\n";
constexpr const char* kDone = "The operation completed successfully.\n";
constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

// A failure to report: the sentence, and whether the command line itself was wrong.
struct Failure {
    std::string message;
    bool usage = false;
};

struct Command {
    std::string verb;
    std::string key;                        // Windows-1251, below the root, no outer backslashes
    std::string shown_key;                  // UTF-8, as the output names it
    std::optional<std::string> value_name;  // Windows-1251
    std::string type = "REG_SZ";
    std::optional<std::string> data;  // UTF-8, converted by type
    bool force = false;
};

// Windows-1251 text of a UTF-8 argument, refusing what the code page cannot hold.
std::string ToCodePage(const std::string& utf8, const std::string& what) {
    std::string text = codepage::FromUtf8(utf8);
    if (codepage::ToUtf8(text) != utf8) {
        throw Failure{what + " \"" + utf8 + "\" holds characters that Windows-1251 cannot hold."};
    }
    return text;
}

void ParseKey(const std::string& argument, Command& command) {
    const std::string key = ToCodePage(argument, "The key");
    const auto slash = key.find('\\');
    const std::string root = key.substr(0, slash);
    if (!codepage::EqualIgnoreCase(root, "HKLM") && !codepage::EqualIgnoreCase(root, kRootName)) {
        throw Failure{"The key \"" + argument + "\" is not under HKLM; only HKLM is kept here."};
    }
    std::string rest = slash == std::string::npos ? "" : key.substr(slash + 1);
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    command.key = rest;
    command.shown_key = kRootName + (rest.empty() ? "" : "\\" + codepage::ToUtf8(rest));
}

bool IsSwitch(const std::string& argument, const char* name) {
    return (argument.size() == 2 && (argument[0] == '/' || argument[0] == '-') &&
            std::tolower(static_cast<unsigned char>(argument[1])) == name[0]);
}

Command Parse(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) throw Failure{"A command and a key are needed.", true};
    Command command;
    command.verb = arguments[0];
    for (char& c : command.verb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (command.verb != "query" && command.verb != "add" && command.verb != "delete") {
        throw Failure{"Unknown command \"" + arguments[0] + "\".", true};
    }
    ParseKey(arguments[1], command);
    bool typed = false;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takes_operand =
            IsSwitch(argument, "v") || IsSwitch(argument, "t") || IsSwitch(argument, "d");
        if (takes_operand && i + 1 == arguments.size()) {
            throw Failure{"The switch " + argument + " needs an operand.", true};
        }
        if (IsSwitch(argument, "v")) {
            command.value_name = ToCodePage(arguments[++i], "The value name");
        } else if (IsSwitch(argument, "t")) {
            command.type = arguments[++i];
            typed = true;
        } else if (IsSwitch(argument, "d")) {
            command.data = arguments[++i];
        } else if (IsSwitch(argument, "f")) {
            command.force = true;
        } else {
            throw Failure{"Unknown switch \"" + argument + "\".", true};
        }
    }
    const bool is_add = command.verb == "add";
    if (!is_add && (typed || command.data)) {
        throw Failure{"/t and /d belong to add only.", true};
    }
    if (is_add && (typed || command.data) && !command.value_name) {
        throw Failure{"/t and /d need /v NAME.", true};
    }
    if (command.type != "REG_SZ" && command.type != "REG_DWORD") {
        throw Failure{"The type \"" + command.type + "\" is not REG_SZ or REG_DWORD.", true};
    }
    if (command.verb == "query" && command.force)
        throw Failure{"/f belongs to add and delete.", true};
    return command;
}

// A DWORD written in decimal or, after "0x", in hexadecimal.
std::uint32_t ParseDWord(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(first, last, number, hex ? 16 : 10);
    if (text.empty() || error != std::errc() || end != last) {
        throw Failure{"\"" + text + "\" is not a DWORD (0 to 4294967295, or 0x0 to 0xFFFFFFFF)."};
    }
    return number;
}

template <typename T>
T Check(RegistryResult<T> result) {
    if (!result) throw Failure{result.error().message};
    return std::move(result.value());
}

void Check(const RegistryStatus& status) {
    if (!status) throw Failure{status.error().message};
}

std::string ShownName(const std::string& cp1251) {
    return cp1251.empty() ? "(Default)" : codepage::ToUtf8(cp1251);
}

void PrintValue(Registry& registry, const Command& command, const RegistryValueInfo& value,
                std::ostream& out) {
    out << "    " << ShownName(value.name) << "    ";
    if (value.type == RegistryValueType::DWord) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", Check(registry.ReadDWord(command.key, value.name)));
        out << "REG_DWORD    " << hex << "\n";
    } else {
        out << "REG_SZ    " << codepage::ToUtf8(Check(registry.ReadString(command.key, value.name)))
            << "\n";
    }
}

bool HasValue(Registry& registry, const Command& command) {
    if (!registry.KeyExists(command.key)) return false;
    for (const auto& value : Check(registry.Values(command.key))) {
        if (codepage::EqualIgnoreCase(value.name, *command.value_name)) return true;
    }
    return false;
}

void Query(Registry& registry, const Command& command, std::ostream& out) {
    std::vector<RegistryValueInfo> shown;
    for (const auto& value : Check(registry.Values(command.key))) {
        if (!command.value_name || codepage::EqualIgnoreCase(value.name, *command.value_name)) {
            shown.push_back(value);
        }
    }
    if (command.value_name && shown.empty()) {
        throw Failure{"The key " + command.shown_key + " holds no value \"" +
                      ShownName(*command.value_name) + "\"."};
    }
    out << "\n" << command.shown_key << "\n";
    for (const auto& value : shown) PrintValue(registry, command, value, out);
    out << "\n";
    if (command.value_name) return;
    for (const auto& subkey : Check(registry.SubKeys(command.key))) {
        out << command.shown_key << "\\" << codepage::ToUtf8(subkey) << "\n";
    }
}

void Add(Registry& registry, const Command& command, std::ostream& out) {
    if (!command.value_name) {
        Check(registry.CreateKey(command.key));
    } else {
        if (!command.force && HasValue(registry, command)) {
            throw Failure{"The value \"" + ShownName(*command.value_name) + "\" of " +
                          command.shown_key +
                          " exists already; velka-reg does not ask: add /f to overwrite it."};
        }
        const std::string data = command.data.value_or("");
        if (command.type == "REG_DWORD") {
            Check(registry.WriteDWord(command.key, *command.value_name, ParseDWord(data)));
        } else {
            Check(registry.WriteString(command.key, *command.value_name,
                                       ToCodePage(data, "The data")));
        }
    }
    out << kDone;
}

void Delete(Registry& registry, const Command& command, std::ostream& out) {
    if (!command.force) {
        throw Failure{"velka-reg does not ask: add /f to delete " +
                      (command.value_name
                           ? "the value \"" + ShownName(*command.value_name) + "\""
                           : "the key " + command.shown_key + " with everything under it") +
                      "."};
    }
    if (command.value_name) {
        Check(registry.DeleteValue(command.key, *command.value_name));
    } else {
        Check(registry.DeleteKey(command.key));
    }
    out << kDone;
}

int Run(const std::vector<std::string>& arguments) {
    try {
        const Command command = Parse(arguments);
        Registry& registry = Registry::Machine();
        if (command.verb == "query") {
            Query(registry, command, std::cout);
        } else if (command.verb == "add") {
            Add(registry, command, std::cout);
        } else {
            Delete(registry, command, std::cout);
        }
        return 0;
    } catch (const Failure& failure) {
        std::cerr << "ERROR: " << failure.message << "\n";
        if (failure.usage) {
            std::cerr << kUsage;
            return 2;
        }
        return 1;
    }
}

}  // namespace
}  // namespace velka

int main(int argc, char** argv) {
    return velka::Run(std::vector<std::string>(argv + 1, argv + argc));
}
