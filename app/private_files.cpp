#include "app/private_files.h"

#include <string_view>
#include <vector>

#include "app/app_core.h"
#include "platform/codepage.h"
#include "platform/file_access.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "store/sim_counters_file.h"
#include "store/store_file.h"

namespace velka::app {
namespace {

// "inbox.db" -> "inbox": the files beside a store file (inbox.parts, inbox.unread)
// and its lock and temporary files all begin with that.
std::string_view Stem(std::string_view file) {
    return file.substr(0, file.find('.'));
}

// A file of the program directory by its name, any other (the registry elsewhere)
// by its whole path. UTF-8, as the system names files.
std::string Names(const std::vector<std::string>& paths, const std::string& program_directory) {
    std::string names;
    for (const std::string& path : paths) {
        if (!names.empty()) names += ", ";
        names += files::DirectoryOf(path) == program_directory
                     ? path.substr(path.find_last_of("\\/") + 1)
                     : path;
    }
    return names;
}

void Add(files::AccessReport& to, files::AccessReport from) {
    for (std::string& path : from.tightened) to.tightened.push_back(std::move(path));
    for (std::string& path : from.refused) to.refused.push_back(std::move(path));
}

}  // namespace

std::string MakeClientFilesPrivate(const std::string& program_directory) {
    // Config.ini whole: a stem "Config" would claim a stranger's Config.txt.
    const std::string_view names[] = {
        kConfigFile,
        Stem(kInboxFile),
        Stem(kOutboxFile),
        Stem(kUnsentFile),
        Stem(kQueueFile),
        Stem(kWorkerLockFile),
        Stem(store::kReportsFile),
        "*.lock",  // every lock between the client's processes, whatever it guards
        // The webhooks' events and the secrets their signatures are made with, a
        // file the user writes by hand with whatever mode the editor gives it.
        "events.db",
        "webhooks-secrets.ini",
        // What each SIM sent this month, its recipients hashed but countable.
        store::kSimCountersFile,
    };
    files::AccessReport report = files::MakePrivate(program_directory, names);
    if (const std::string registry = MachineRegistryFile(); !registry.empty()) {
        const std::string_view file[] = {
            std::string_view(registry).substr(registry.find_last_of("\\/") + 1)};
        // Its own name only: the directory may be anybody's (VELKA_REGISTRY).
        Add(report, files::MakePrivate(files::DirectoryOf(registry), file));
    }
    std::string line;
    if (!report.tightened.empty()) {
        line =
            "Файлы программы были открыты для других пользователей, теперь доступ к ним "
            "есть только у владельца: " +
            Names(report.tightened, program_directory) + ".";
    }
    if (!report.refused.empty()) {
        if (!line.empty()) line += " ";
        line += "Не удалось закрыть доступ других пользователей к файлам: " +
                Names(report.refused, program_directory) + ".";
    }
    return codepage::FromUtf8(line);
}

}  // namespace velka::app
