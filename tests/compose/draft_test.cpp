#include "compose/draft.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace velka::compose {
namespace {

class DraftTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    const std::string path_ = dir_.File(kDraftFile);
};

// Every character typed comes back: Russian, an emoji (four UTF-8 bytes), line
// breaks, blank lines at the end, a text that looks like a mark line.
TEST_F(DraftTest, AKeptDraftComesBackAsTyped) {
    const Draft draft{"+79161234567, Иван", "Привет 😀\nВторая строка\n\nVelka SMS draft 1\n\n"};
    ASSERT_TRUE(SaveDraft(path_, draft));
    const auto loaded = LoadDraft(path_);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(loaded->has_value());
    EXPECT_EQ(**loaded, draft);

    const Draft text_only{"", "только текст"};
    ASSERT_TRUE(SaveDraft(path_, text_only));
    EXPECT_EQ(**LoadDraft(path_), text_only);
}

TEST_F(DraftTest, NoFileAnEmptiedOneOrAnEmptyDraftIsNoDraft) {
    ASSERT_TRUE(DiscardDraft(path_));
    EXPECT_FALSE(files::Exists(path_)) << "discarding nothing writes nothing";
    const auto none = LoadDraft(path_);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->has_value());

    ASSERT_TRUE(SaveDraft(path_, {"+7916", "текст"}));
    ASSERT_TRUE(SaveDraft(path_, {}));
    EXPECT_FALSE(LoadDraft(path_)->has_value());

    ASSERT_TRUE(SaveDraft(path_, {"+7916", "текст"}));
    ASSERT_TRUE(DiscardDraft(path_));
    EXPECT_FALSE(LoadDraft(path_)->has_value());
}

// A file that is no draft is told, and copied aside before a kept draft can
// replace it; the file itself is left as it was.
TEST_F(DraftTest, AnUnreadableFileIsCopiedAsideAndTold) {
    for (const std::string& contents :
         {std::string("не черновик"), std::string("Velka SMS draft 1\n+7916"),
          std::string("Velka SMS draft 2\n+7916\nтекст")}) {
        ASSERT_TRUE(files::SaveDurably(path_, contents));
        const auto loaded = LoadDraft(path_);
        ASSERT_FALSE(loaded) << contents;
        EXPECT_NE(loaded.error().message.find(kUnreadableSuffix), std::string::npos);
        EXPECT_EQ(*files::ReadAll(path_ + kUnreadableSuffix), contents);
        EXPECT_EQ(*files::ReadAll(path_), contents);
    }
}

TEST_F(DraftTest, AFolderThatIsGoneRefusesTheDraftWithAnError) {
    const std::string nowhere = dir_.File("gone/") + kDraftFile;
    EXPECT_FALSE(SaveDraft(nowhere, {"+7916", "текст"}));
    EXPECT_TRUE(LoadDraft(nowhere)) << "no folder, no draft";
}

}  // namespace
}  // namespace velka::compose
