// The client's files are the user's alone (POSIX): a send and a reception through
// the application core leave nothing that the group or others may read or write,
// under the usual umask 022, and the start-up tightening closes what an earlier
// version left open, once, naming it.
#include "app/private_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "platform/codepage.h"
#include "platform/file_access.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "tests/app/config_ini.h"
#include "tests/app/outcomes.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/umask.h"

namespace velka::app {
namespace {

namespace fs = std::filesystem;

constexpr fs::perms kOthersBits = fs::perms::group_all | fs::perms::others_all;

using velka::testing::Umask;

fs::perms PermsOf(const std::string& path) {
    return fs::symlink_status(path).permissions();
}

// The files of the registry stand-in: the file and whichever of its companions exist.
std::vector<std::string> RegistryFiles() {
    std::vector<std::string> found;
    const std::string file = MachineRegistryFile();
    for (const std::string& path : {file, file + "-wal", file + "-shm", file + "-journal"}) {
        if (fs::exists(path)) found.push_back(path);
    }
    return found;
}

class PrivateFilesTest : public ::testing::Test {
  protected:
    PrivateFilesTest() : modems_(2) {}

    // The usual umask, set before anything is created, so that a file made with
    // the system's default mode would be readable by others and fail the test.
    Umask umask_{022};
    testing::SimModems modems_;
    velka::testing::TempDir home_;
    testing::Outcomes outcomes_;
    AppCore core_{home_.path()};
};

TEST_F(PrivateFilesTest, ASendAndAReceptionLeaveOnlyFilesThatAreTheOwnersAlone) {
    // Modem 1 keeps a status report on its SIM for every send; the shortened safety
    // poll finds them without waiting a minute.
    modems_.Control("fault 1 reports sm");
    ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), modems_.ComName(1), true));
    core_.SetSafetyPoll(std::chrono::milliseconds(200));
    ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    core_.SetDeliveryReportsEnabled(true);
    modems_.Control("inject 1 +79161234567 " + std::string(200, 'r'));  // two parts
    const packet record = MakePacket("+79990000002", "08.12.2026 10:00:00", std::string(200, 's'));
    ASSERT_TRUE(core_.Enqueue({&record, 1}).ok());
    ASSERT_TRUE(outcomes_.WaitUntil([&] {
        return outcomes_.CountAll(SendOutcome::Sent) == 1 && outcomes_.ReceivedCount() >= 1 &&
               outcomes_.ReportCount() >= 2;
    }));
    core_.Shutdown();

    // What the send, the reports and the reception wrote must be there to be judged.
    for (const char* name :
         {kConfigFile, kInboxFile, kOutboxFile, kQueueFile, kWorkerLockFile, "reports.db",
          "outbox.states", "queue.db.lock", "inbox.sims", "outbox.sims"}) {
        EXPECT_TRUE(files::Exists(home_.File(name))) << name;
    }
    std::vector<std::string> judged;
    for (const fs::directory_entry& entry : fs::directory_iterator(home_.path())) {
        if (entry.is_regular_file()) judged.push_back(entry.path().string());
    }
    for (const std::string& path : RegistryFiles()) judged.push_back(path);
    EXPECT_GE(judged.size(), 9u);
    for (const std::string& path : judged) {
        EXPECT_EQ(PermsOf(path) & kOthersBits, fs::perms::none) << path;
    }
}

TEST_F(PrivateFilesTest, FilesAnEarlierVersionLeftOpenAreClosedOnceAndNamed) {
    for (const std::string name : {"Config.ini", "boxes.lock", "inbox.db", "outbox.states",
                                   "queue.db.lock", "worker.lock", "notes.txt"}) {
        ASSERT_TRUE(files::SaveDurably(home_.File(name), "left by an earlier version"));
        fs::permissions(home_.File(name), fs::perms::owner_read | fs::perms::owner_write |
                                              fs::perms::group_read | fs::perms::others_read);
    }
    ASSERT_TRUE(files::SaveDurably(home_.File("unsent.db"), "private already"));
    // The registry lies elsewhere (VELKA_REGISTRY): it is closed too, named by its path.
    const std::string registry = MachineRegistryFile();
    ASSERT_NE(files::DirectoryOf(registry), home_.path());
    ASSERT_TRUE(files::CreatePrivate(registry));
    fs::permissions(registry, fs::perms::group_read | fs::perms::group_write,
                    fs::perm_options::add);

    EXPECT_EQ(codepage::ToUtf8(MakeClientFilesPrivate(home_.path())),
              "Файлы программы были открыты для других пользователей, теперь доступ к ним есть "
              "только у владельца: Config.ini, boxes.lock, inbox.db, outbox.states, "
              "queue.db.lock, worker.lock, " +
                  registry + ".");
    for (const char* name : {"Config.ini", "boxes.lock", "inbox.db", "outbox.states",
                             "queue.db.lock", "worker.lock", "unsent.db"}) {
        EXPECT_EQ(PermsOf(home_.File(name)) & kOthersBits, fs::perms::none) << name;
    }
    EXPECT_EQ(PermsOf(registry) & kOthersBits, fs::perms::none);
    EXPECT_NE(PermsOf(home_.File("notes.txt")) & fs::perms::others_read, fs::perms::none)
        << "not one of the client's files";

    EXPECT_EQ(MakeClientFilesPrivate(home_.path()), "") << "said once";
}

}  // namespace
}  // namespace velka::app
