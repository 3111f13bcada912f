#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace velka {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The stand-in keeps the order Windows gives; the real registry keeps its own.
class RegistryTest : public ::testing::Test {
  protected:
    velka::testing::TempDir dir_;
    std::string file_ = dir_.File("registry.db");
    Registry registry_{file_};
};

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAndKeepTheirPlaceWhenReplaced) {
    const std::string key = "\\Order";
    for (const char* name : {"zeta", "alpha", "mid"})
        ASSERT_TRUE(registry_.WriteString(key, name, "x").ok());
    ASSERT_TRUE(registry_.WriteDWord(key, "ALPHA", 1).ok());
    ASSERT_TRUE(registry_.DeleteValue(key, "zeta").ok());
    ASSERT_TRUE(registry_.WriteString(key, "zeta", "again").ok());

    const auto values = registry_.Values(key).value();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "alpha");
    EXPECT_EQ(values[0].type, RegistryValueType::DWord);
    EXPECT_EQ(values[1].name, "mid");
    EXPECT_EQ(values[1].type, RegistryValueType::String);
    EXPECT_EQ(values[1].text, "x");
    EXPECT_EQ(values[2].name, "zeta");
    EXPECT_EQ(values[2].text, "again");
}

TEST(RegistryFileTest, ACorruptFileGivesStoreFailedWithItsPathAndIsLeftAlone) {
    velka::testing::TempDir dir;
    const std::string file = dir.File("registry.db");
    const std::string garbage(8192, 'x');
    std::ofstream(file, std::ios::binary) << garbage;

    Registry registry(file);
    const auto read = registry.ReadString("\\A", "x");
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().failure, RegistryFailure::StoreFailed);
    EXPECT_THAT(read.error().message, HasSubstr(file));
    EXPECT_NE(read.error().system_code, 0);
    const auto write = registry.WriteDWord("\\A", "x", 1);
    ASSERT_FALSE(write.ok());
    EXPECT_EQ(write.error().failure, RegistryFailure::StoreFailed);
    EXPECT_FALSE(registry.KeyExists("\\"));

    std::ifstream in(file, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, garbage);
}

TEST(RegistryFileTest, AFileOfAnotherLayoutVersionIsRefusedUntouched) {
    velka::testing::TempDir dir;
    const std::string file = dir.File("registry.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE keys(x); PRAGMA user_version = 7", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    Registry registry(file);
    const auto write = registry.CreateKey("\\A");
    ASSERT_FALSE(write.ok());
    EXPECT_EQ(write.error().failure, RegistryFailure::StoreFailed);
    EXPECT_THAT(write.error().message, HasSubstr("unknown layout (version 7)"));
}

TEST(RegistryFileTest, AnUnopenableFileGivesStoreFailedAndIsRetriedLater) {
    velka::testing::TempDir dir;
    const std::string file = dir.File("missing-dir/registry.db");
    Registry registry(file);
    const auto write = registry.CreateKey("\\A");
    ASSERT_FALSE(write.ok());
    EXPECT_EQ(write.error().failure, RegistryFailure::StoreFailed);
    EXPECT_THAT(write.error().message, HasSubstr(file));

    ASSERT_EQ(::mkdir(dir.File("missing-dir").c_str(), 0700), 0);
    EXPECT_TRUE(registry.CreateKey("\\A").ok());
    EXPECT_TRUE(registry.KeyExists("\\a"));
}

TEST(RegistryFileTest, TheMachineRegistryIsTheFileNamedByVelkaRegistry) {
    ASSERT_TRUE(
        Registry::Machine().WriteDWord("\\SOFTWARE\\Velka\\ZEDOzadev", "MessageRef", 3).ok());
    Registry same(std::getenv("VELKA_REGISTRY"));
    EXPECT_EQ(same.ReadDWord("\\SOFTWARE\\Velka\\ZEDOzadev", "MessageRef").value(), 3u);
}

// Writers that share the file: each writes its own values under keys that both
// create; every value of every writer must be there afterwards.
constexpr int kWritesPerWriter = 150;

// (Built by appending: GCC 12 warns falsely on "literal" + std::to_string() at -O3.)
std::string SharedKey(int i) {
    std::string key = "\\Shared\\K";
    key += std::to_string(i % 7);
    return key;
}

std::string WriterValue(int writer, int i) {
    std::string name = "w";
    name += std::to_string(writer);
    name += '-';
    name += std::to_string(i);
    return name;
}

// The first failure's message, or "" when every call succeeded.
std::string WriteMany(Registry& registry, int writer) {
    for (int i = 0; i < kWritesPerWriter; ++i) {
        const std::string key = SharedKey(i);
        RegistryStatus status =
            registry.WriteDWord(key, WriterValue(writer, i), static_cast<std::uint32_t>(i));
        if (status.ok()) {
            const auto listed = registry.SubKeys("\\Shared");
            if (!listed.ok()) status = listed.error();
        }
        // Both writers delete and make the same scratch keys, so the key may be gone.
        if (status.ok() && i % 10 == 0) {
            status = registry.DeleteKey(key + "\\Scratch");
            if (!status.ok() && status.error().failure == RegistryFailure::KeyNotFound) status = {};
        }
        if (status.ok()) status = registry.CreateKey(key + "\\Scratch");
        if (!status.ok()) return status.error().message;
    }
    return "";
}

std::string WriteManyOnOwnConnection(const std::string& file, int writer) {
    Registry own(file);
    return WriteMany(own, writer);
}

void ExpectEveryValue(const std::string& file, int writers) {
    Registry registry(file);
    for (int writer = 0; writer < writers; ++writer) {
        for (int i = 0; i < kWritesPerWriter; ++i) {
            const std::string key = SharedKey(i);
            const std::string name = WriterValue(writer, i);
            const auto value = registry.ReadDWord(key, name);
            ASSERT_TRUE(value.ok()) << name << ": " << value.error().message;
            EXPECT_EQ(*value, static_cast<std::uint32_t>(i));
        }
    }
    EXPECT_EQ(registry.SubKeys("\\Shared").value().size(), 7u);
}

TEST(RegistrySharingTest, TwoProcessesWritingOneFileLoseNothing) {
    velka::testing::TempDir dir;
    const std::string file = dir.File("registry.db");
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string failure = WriteManyOnOwnConnection(file, writer);
            if (!failure.empty()) std::fprintf(stderr, "writer %d: %s\n", writer, failure.c_str());
            ::_exit(failure.empty() ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed";
    }
    ExpectEveryValue(file, 2);
}

TEST(RegistrySharingTest, ThreadsOnOneObjectAndOnTwoConnectionsLoseNothing) {
    velka::testing::TempDir dir;
    const std::string file = dir.File("registry.db");
    Registry shared(file);
    std::string failures[4];
    {
        std::vector<std::jthread> threads;
        // Writers 0 and 1 share one object; 2 and 3 open their own connections.
        for (int writer = 0; writer < 4; ++writer) {
            threads.emplace_back([&, writer] {
                failures[writer] =
                    writer < 2 ? WriteMany(shared, writer) : WriteManyOnOwnConnection(file, writer);
            });
        }
    }
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");
    ExpectEveryValue(file, 4);
}

}  // namespace
}  // namespace velka
