#include "tools/velka-sms-cli/sim_contacts_command.h"

#include <cstdio>
#include <utility>

#include "app/sim_phone_book.h"
#include "platform/codepage.h"
#include "platform/program_dir.h"
#include "tools/velka-sms-cli/exit_status.h"
#include "tools/velka-sms-cli/json.h"

namespace velka::cli {

int SimContacts(bool json, const std::optional<std::string>& pin) {
    app::AppCore core(ProgramDirectory());
    if (pin) core.SetPin(*pin);
    std::optional<app::SimPhoneBook> read;
    // Without a worker the errand runs on this thread: `read` is set on return.
    app::ReadSimPhoneBook(core, [&read](app::SimPhoneBook result) { read = std::move(result); });
    core.Shutdown();
    if (!*read) return Fail(kFailed, codepage::ToUtf8(read->error().message));
    if (!json) {
        for (const modem::PhoneBookEntry& entry : **read)
            std::printf("%d\t%s\t%s\n", entry.index, entry.Dialled().c_str(), entry.name.c_str());
        return 0;
    }
    Json entries = Json::array();
    for (const modem::PhoneBookEntry& entry : **read) {
        entries.push_back({{"index", entry.index},
                           {"number", entry.Dialled()},
                           {"type", entry.type},
                           {"name", entry.name}});
    }
    std::printf("%s\n", JsonText(entries).c_str());
    return 0;
}

}  // namespace velka::cli
