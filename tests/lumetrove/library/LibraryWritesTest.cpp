#include "tests/lumetrove/library/LibraryTest.h"

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class LibraryWritesTest : public testing::OpenLibraryTest {};

TEST_F(LibraryWritesTest, APlainFolderIsStoredWithSortOrderZero)
{
    const std::optional<qint64> id = store->insertFolder("Receipts", false, std::nullopt);
    ASSERT_TRUE(id);
    EXPECT_THAT(column("SELECT id || '|' || folder_name || '|' || sort_order || '|' || is_smart_folder || '|' || "
                       "ifnull(keywords_filter, 'NULL') || '|' || ifnull(text_filter, 'NULL') FROM folders"),
                ElementsAre("\"" + std::to_string(*id) + "|Receipts|0|0|NULL|NULL\""));
}

TEST_F(LibraryWritesTest, UpdateFolderWritesEveryFieldById)
{
    const qint64 id = *store->insertFolder("Cats", true, "cat");
    store->insertFolder("Other", false, std::nullopt);
    store->updateFolder(Folder{id, 4, "Kittens", true, "kitten cat"});
    EXPECT_THAT(column("SELECT folder_name || '|' || sort_order || '|' || keywords_filter FROM folders WHERE id = " +
                       std::to_string(id)),
                ElementsAre("\"Kittens|4|kitten cat\""));
    EXPECT_THAT(column("SELECT folder_name FROM folders WHERE id <> " + std::to_string(id)), ElementsAre("\"Other\""));
}

TEST_F(LibraryWritesTest, LinkingTwiceIsRefusedAndKeepsOneRow)
{
    store->insertFolderScreenshot(5, 2);
    EXPECT_THAT(column("SELECT folder_id || '/' || screenshot_id FROM folders_screenshots"), ElementsAre("\"2/5\""));
    ::testing::internal::CaptureStdout();
    store->insertFolderScreenshot(5, 2);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("UNIQUE constraint failed"));
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 1);
}

TEST_F(LibraryWritesTest, InsertScreenshotWritesItsColumnsAndLeavesTheRestToDefaults)
{
    const std::optional<qint64> id = store->insertScreenshot("New Screenshot.png", "file:///s/a.png", "hello",
                                                             "org.example.App", "App", true, "What is this?", false);
    ASSERT_TRUE(id);
    EXPECT_THAT(column("SELECT name || '|' || path || '|' || text || '|' || captured_app_bundle_id || '|' || "
                       "captured_app_name || '|' || is_ai_assistant_task || '|' || ai_assistant_task || '|' || "
                       "was_imported || '|' || ifnull(description, 'NULL') || '|' || ifnull(keywords, 'NULL') || "
                       "'|' || (created_at IS NOT NULL) FROM screenshots"),
                ElementsAre("\"New Screenshot.png|file:///s/a.png|hello|org.example.App|App|1|What is this?|0|NULL|"
                            "NULL|1\""));
}

TEST_F(LibraryWritesTest, InsertScreenshotWithoutTextIsRefused)
{
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(store->insertScreenshot("a", "file:///a.png", std::nullopt, std::nullopt, std::nullopt, false,
                                         std::nullopt, false));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(),
                HasSubstr("NOT NULL constraint failed: screenshots.text (code: 19)"));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 0);
}

TEST_F(LibraryWritesTest, UpdateScreenshotKeepsAnAbsentPathAndClearsAbsentTexts)
{
    const qint64 id = addScreenshot(*store, "before");
    store->updateScreenshot(id, "n", "d", "k", "file:///moved.png", "r", "t", "a");
    store->updateScreenshot(id, "n2", std::nullopt, "k2", std::nullopt, "r2", std::nullopt, std::nullopt);
    EXPECT_THAT(column("SELECT name || '|' || ifnull(description, 'NULL') || '|' || keywords || '|' || path || '|' || "
                       "ai_results || '|' || ifnull(ai_assistant_task, 'NULL') || '|' || "
                       "ifnull(ai_assistant_results, 'NULL') FROM screenshots"),
                ElementsAre("\"n2|NULL|k2|file:///moved.png|r2|NULL|NULL\""));
}

TEST_F(LibraryWritesTest, UpdateScreenshotReportsWhetherItWroteTheRow)
{
    const qint64 id = addScreenshot(*store, "before");
    EXPECT_TRUE(store->updateScreenshot(id, "n", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                        std::nullopt));

    rawConnection()->executeScript(
        "CREATE TRIGGER refuse BEFORE UPDATE ON screenshots BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(store->updateScreenshot(id, "m", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                         std::nullopt));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("refused"));
    EXPECT_THAT(column("SELECT name FROM screenshots"), ElementsAre("\"n\""));

    ScreenshotsDB closed;
    EXPECT_FALSE(closed.updateScreenshot(id, "m", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                         std::nullopt));
}

TEST_F(LibraryWritesTest, DeleteFolderRemovesItsLinksButNotItsScreenshots)
{
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    const qint64 other = *store->insertFolder("G", false, std::nullopt);
    for (const char* name : {"a", "b", "c"}) {
        store->insertFolderScreenshot(addScreenshot(*store, name), folder);
    }
    store->insertFolderScreenshot(1, other);
    store->deleteFolder(folder);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM folders"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 3);
}

TEST_F(LibraryWritesTest, DeleteScreenshotRemovesItsLinksRowAndIndexEntry)
{
    const qint64 kept = addScreenshot(*store, "kept", "zebra");
    const qint64 gone = addScreenshot(*store, "gone", "zebra");
    store->insertFolderScreenshot(gone, *store->insertFolder("F", false, std::nullopt));
    store->insertFolderScreenshot(gone, *store->insertFolder("G", false, std::nullopt));
    store->deleteScreenshot(gone);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 0);
    EXPECT_THAT(column("SELECT id FROM screenshots"), ElementsAre(std::to_string(kept)));
    EXPECT_THAT(column("SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH 'zebra'"),
                ElementsAre(std::to_string(kept)));
    EXPECT_NO_THROW(checkIndexIntegrity());
}

} // namespace
} // namespace lumetrove
