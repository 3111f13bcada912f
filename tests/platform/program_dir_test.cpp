// Where the program keeps its files: beside itself when run from the folder it was
// built in, in the user's data folder when installed where the user cannot write,
// and wherever VELKA_HOME says above both.
#include "platform/program_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace velka {
namespace {

// Sets or unsets one variable for a test and puts the old value back.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

int ModeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return -1;
    return static_cast<int>(info.st_mode & 07777);
}

TEST(ProgramDirectoryRule, HomeOverridesBothThenAUsableProgramFolderThenTheUsersFolder) {
    DirectoryFacts facts{"", "/opt/velka", true, "/home/u/.local/share/velka-sms"};
    EXPECT_EQ(ChooseProgramDirectory(facts), "/opt/velka");
    facts.executable_directory_usable = false;
    EXPECT_EQ(ChooseProgramDirectory(facts), "/home/u/.local/share/velka-sms");
    facts.home = "/tmp/instance";
    EXPECT_EQ(ChooseProgramDirectory(facts), "/tmp/instance");
    // Nowhere of the user's own: the program's folder, whose writes then fail naming it.
    facts = {"", "/usr/bin", false, ""};
    EXPECT_EQ(ChooseProgramDirectory(facts), "/usr/bin");
}

TEST(ProgramDirectory, VelkaHomeIsTakenWithoutItsTrailingSlashes) {
    testing::TempDir dir;
    const ScopedVariable home("VELKA_HOME", (dir.path() + "//").c_str());
    EXPECT_EQ(ProgramDirectory(), dir.path());
}

TEST(ProgramDirectory, ABuildFolderTheUserMayWriteKeepsTheFilesBesideTheProgram) {
    const ScopedVariable home("VELKA_HOME", nullptr);
    // The test program runs from its build folder, which its builder may write.
    EXPECT_EQ(ProgramDirectory(), ExecutableDirectory());
}

TEST(UsableProgramDirectory, AFolderTheUserCannotWriteIsNotUsed) {
    testing::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(testing::AsUnprivilegedUser([&] { return UsableProgramDirectory(dir.path()); }),
              false);
    testing::TempDir open;
    ASSERT_EQ(::chmod(open.path().c_str(), 0777), 0);
    EXPECT_EQ(testing::AsUnprivilegedUser([&] { return UsableProgramDirectory(open.path()); }),
              true);
}

TEST(UsableProgramDirectory, TheSystemsProgramFoldersAreNeverUsedEvenByRoot) {
    EXPECT_FALSE(UsableProgramDirectory("/usr/bin"));
    EXPECT_FALSE(UsableProgramDirectory("/usr/local/bin"));
    EXPECT_FALSE(UsableProgramDirectory("/bin"));
}

TEST(UserDataDirectory, XdgDataHomeWhenAbsoluteElseTheHomesLocalShare) {
    const ScopedVariable home("HOME", "/home/user");
    {
        const ScopedVariable data("XDG_DATA_HOME", "/data/user");
        EXPECT_EQ(UserDataDirectory(), "/data/user/velka-sms");
    }
    {
        // A relative XDG_DATA_HOME is invalid by the XDG rules and is passed over.
        const ScopedVariable data("XDG_DATA_HOME", "relative/share");
        EXPECT_EQ(UserDataDirectory(), "/home/user/.local/share/velka-sms");
    }
    const ScopedVariable data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(UserDataDirectory(), "/home/user/.local/share/velka-sms");
    const ScopedVariable no_home("HOME", nullptr);
    EXPECT_EQ(UserDataDirectory(), "");
}

TEST(MakeDataDirectory, MissingFoldersAreMadePrivateAndAFileInTheWayIsRefused) {
    testing::TempDir dir;
    const std::string data = dir.File("home/.local/share/velka-sms");
    ASSERT_TRUE(MakeDataDirectory(data));
    EXPECT_EQ(ModeOf(data), 0700);
    EXPECT_EQ(ModeOf(dir.File("home/.local")), 0700);
    EXPECT_TRUE(MakeDataDirectory(data));  // already there

    ASSERT_TRUE(files::SaveDurably(dir.File("occupied"), "a file, not a folder"));
    EXPECT_FALSE(MakeDataDirectory(dir.File("occupied")));
    EXPECT_FALSE(MakeDataDirectory(dir.File("occupied/velka-sms")));
    EXPECT_FALSE(MakeDataDirectory(""));
}

TEST(ProgramDirectory, AnInstalledProgramKeepsItsFilesInTheUsersDataFolderMadeForIt) {
    // The rule as the program applies it, in a child that cannot write the
    // program's folder: the user's data folder is chosen and made. Only root can
    // become a user who may not write the test's own folder; the copy of velka-reg
    // run from a read-only folder (velka_reg_data_folder) shows it for any user.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
    testing::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string data_home = dir.File("data");
    const ScopedVariable home("VELKA_HOME", nullptr);
    const ScopedVariable data("XDG_DATA_HOME", data_home.c_str());
    const std::optional<bool> chosen = testing::AsUnprivilegedUser([&] {
        // The test's build folder is the root's or the builder's, not nobody's.
        return !UsableProgramDirectory(ExecutableDirectory()) &&
               ProgramDirectory() == data_home + "/velka-sms" &&
               ModeOf(data_home + "/velka-sms") == 0700;
    });
    EXPECT_EQ(chosen, true);
}

}  // namespace
}  // namespace velka
