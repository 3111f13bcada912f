// Who may read the client's files on POSIX: everything the platform layer creates
// is the owner's alone even when the umask would let others in, and MakePrivate
// closes the client's files, and only those, that are open to others.
#include "platform/file_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/lock_file.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "tests/support/umask.h"

namespace velka::files {
namespace {

using velka::testing::Umask;

// The permission bits of the file itself, not of what a link points at; -1 when
// there is nothing there.
int ModeOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return -1;
    return static_cast<int>(info.st_mode & 07777);
}

void MakeFile(const std::string& path, mode_t mode) {
    ASSERT_TRUE(SaveDurably(path, "contents"));
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(PrivateFiles, SavedAndAppendedFilesAreTheOwnersAloneUnderAnOpenUmask) {
    const Umask open(0);
    testing::TempDir dir;
    ASSERT_TRUE(SaveDurably(dir.File("Config.ini"), "[DEVICEMAP]\r\n"));
    ASSERT_TRUE(AppendDurably(dir.File("inbox.db"), "record"));
    EXPECT_EQ(ModeOf(dir.File("Config.ini")), 0600);
    EXPECT_EQ(ModeOf(dir.File("inbox.db")), 0600);

    // A save replaces an open file with a private one, even over an open temporary
    // that a crash between creating it and renaming it left behind.
    const std::string path = dir.File("outbox.db");
    ASSERT_NO_FATAL_FAILURE(MakeFile(path, 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(path + ".tmp", 0666));
    ASSERT_TRUE(SaveDurably(path, "replaced"));
    EXPECT_EQ(ModeOf(path), 0600);
    EXPECT_EQ(*ReadAll(path), "replaced");
}

TEST(PrivateFiles, LockFilesAndTheRegistryFilesAreTheOwnersAloneUnderAnOpenUmask) {
    const Umask open(0);
    testing::TempDir dir;
    {
        const auto lock = LockFile::Acquire(dir.File("queue.db.lock"));
        ASSERT_TRUE(lock.ok());
        const auto named = LockFile::TryAcquireNamed(dir.File("worker.lock"));
        ASSERT_TRUE(named.ok());
    }
    EXPECT_EQ(ModeOf(dir.File("queue.db.lock")), 0600);
    EXPECT_EQ(ModeOf(dir.File("worker.lock")), 0600);

    const std::string file = dir.File("registry.db");
    Registry registry(file);
    ASSERT_TRUE(registry.WriteString("\\Software\\Velka", "Name", "value").ok());
    // The connection stays open, so its write-ahead log and shared memory are there.
    for (const std::string& path : {file, file + "-wal", file + "-shm"}) {
        EXPECT_EQ(ModeOf(path), 0600) << path;
    }
}

TEST(PrivateFiles, CreatePrivateMakesAnEmptyPrivateFileAndLeavesAnExistingOneAsItIs) {
    const Umask open(0);
    testing::TempDir dir;
    ASSERT_TRUE(CreatePrivate(dir.File("new.db")));
    EXPECT_EQ(ModeOf(dir.File("new.db")), 0600);
    EXPECT_EQ(*Size(dir.File("new.db")), 0u);

    ASSERT_NO_FATAL_FAILURE(MakeFile(dir.File("old.db"), 0644));
    ASSERT_TRUE(CreatePrivate(dir.File("old.db")));
    EXPECT_EQ(ModeOf(dir.File("old.db")), 0644) << "an existing file is not changed";
    EXPECT_EQ(*ReadAll(dir.File("old.db")), "contents");

    EXPECT_FALSE(CreatePrivate(dir.File("no/such/dir/file")).ok());
}

class MakePrivateTest : public ::testing::Test {
  protected:
    std::string File(const std::string& name) const { return dir_.File(name); }
    AccessReport Run() { return MakePrivate(dir_.path(), kNames); }

    static constexpr std::string_view kNames[] = {"Config.ini", "inbox",       "outbox",
                                                  "queue",      "registry.db", "*.lock"};
    testing::TempDir dir_;
};

TEST_F(MakePrivateTest, TakesOthersAccessFromOurFilesOnlyAndReportsWhatItChanged) {
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("Config.ini"), 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("inbox.parts"), 0664));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("registry.db-wal"), 0640));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("queue.db.lock"), 0604));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("boxes.lock"), 0660));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("outbox.db"), 0444));  // the owner made it read-only
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("inbox.db"), 0600));   // private already
    // Not ours: other names, names that merely begin like ours, an executable.
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("notes.txt"), 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("inboxes.db"), 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("Config.ini2"), 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("queue.sh"), 0755));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File(".lock"), 0644));
    ASSERT_NO_FATAL_FAILURE(MakeFile(File("lock.txt"), 0644));

    const AccessReport report = Run();
    EXPECT_EQ(report.tightened,
              (std::vector<std::string>{File("Config.ini"), File("boxes.lock"), File("inbox.parts"),
                                        File("outbox.db"), File("queue.db.lock"),
                                        File("registry.db-wal")}));
    EXPECT_TRUE(report.refused.empty());
    EXPECT_EQ(ModeOf(File("Config.ini")), 0600);
    EXPECT_EQ(ModeOf(File("inbox.parts")), 0600);
    EXPECT_EQ(ModeOf(File("registry.db-wal")), 0600);
    EXPECT_EQ(ModeOf(File("queue.db.lock")), 0600);
    EXPECT_EQ(ModeOf(File("boxes.lock")), 0600);
    EXPECT_EQ(ModeOf(File("outbox.db")), 0400) << "the owner's own bits stay";
    EXPECT_EQ(ModeOf(File("inbox.db")), 0600);
    EXPECT_EQ(ModeOf(File("notes.txt")), 0644);
    EXPECT_EQ(ModeOf(File("inboxes.db")), 0644);
    EXPECT_EQ(ModeOf(File("Config.ini2")), 0644);
    EXPECT_EQ(ModeOf(File("queue.sh")), 0755);
    EXPECT_EQ(ModeOf(File(".lock")), 0644);
    EXPECT_EQ(ModeOf(File("lock.txt")), 0644);

    EXPECT_TRUE(Run().empty()) << "once closed, nothing is left to report";
}

TEST_F(MakePrivateTest, LeavesLinksDirectoriesAndWhatTheyLeadToAlone) {
    testing::TempDir elsewhere;
    const std::string target = elsewhere.File("shared.db");
    ASSERT_NO_FATAL_FAILURE(MakeFile(target, 0644));
    std::filesystem::create_symlink(target, File("outbox.db"));
    ASSERT_TRUE(std::filesystem::create_directory(File("inbox.db")));
    ASSERT_EQ(::chmod(File("inbox.db").c_str(), 0755), 0);

    EXPECT_TRUE(Run().empty());
    EXPECT_EQ(ModeOf(target), 0644);
    EXPECT_EQ(ModeOf(File("inbox.db")), 0755);
}

}  // namespace
}  // namespace velka::files
