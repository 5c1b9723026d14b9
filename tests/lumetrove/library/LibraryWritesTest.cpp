#include "sqlite/Errors.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

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
    (void)store->insertFolder("Other", false, std::nullopt);
    (void)store->updateFolder(Folder{id, 4, "Kittens", true, "kitten cat"});
    EXPECT_THAT(column("SELECT folder_name || '|' || sort_order || '|' || keywords_filter FROM folders WHERE id = " +
                       std::to_string(id)),
                ElementsAre("\"Kittens|4|kitten cat\""));
    EXPECT_THAT(column("SELECT folder_name FROM folders WHERE id <> " + std::to_string(id)), ElementsAre("\"Other\""));
}

TEST_F(LibraryWritesTest, LinkingTwiceIsRefusedAndKeepsOneRow)
{
    (void)store->insertFolderScreenshot(5, 2);
    EXPECT_THAT(column("SELECT folder_id || '/' || screenshot_id FROM folders_screenshots"), ElementsAre("\"2/5\""));
    ::testing::internal::CaptureStdout();
    (void)store->insertFolderScreenshot(5, 2);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("UNIQUE constraint failed"));
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 1);
}

TEST_F(LibraryWritesTest, InsertScreenshotWritesItsColumnsAndLeavesTheRestToDefaults)
{
    const std::optional<qint64> id = store->insertScreenshot({.name = "New Screenshot.png",
                                                              .path = "file:///s/a.png",
                                                              .text = "hello",
                                                              .capturedAppBundleId = "org.example.App",
                                                              .capturedAppName = "App",
                                                              .isAIAssistantTask = true,
                                                              .aiAssistantTask = "What is this?"});
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
    EXPECT_FALSE(store->insertScreenshot({.name = "a", .path = "file:///a.png"}));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(),
                HasSubstr("NOT NULL constraint failed: screenshots.text (code: 19)"));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 0);
}

TEST_F(LibraryWritesTest, UpdateScreenshotKeepsAnAbsentPathAndClearsAbsentTexts)
{
    const qint64 id = addScreenshot(*store, "before");
    (void)store->updateScreenshot(id, {"n", "d", "k", "file:///moved.png", "r", "t", "a"});
    (void)store->updateScreenshot(id, {.name = "n2", .keywords = "k2", .aiResults = "r2"});
    EXPECT_THAT(column("SELECT name || '|' || ifnull(description, 'NULL') || '|' || keywords || '|' || path || '|' || "
                       "ai_results || '|' || ifnull(ai_assistant_task, 'NULL') || '|' || "
                       "ifnull(ai_assistant_results, 'NULL') FROM screenshots"),
                ElementsAre("\"n2|NULL|k2|file:///moved.png|r2|NULL|NULL\""));
}

TEST_F(LibraryWritesTest, UpdateScreenshotReportsWhetherItWroteTheRow)
{
    const qint64 id = addScreenshot(*store, "before");
    EXPECT_TRUE(store->updateScreenshot(id, {.name = "n"}));

    rawConnection()->executeScript(
        "CREATE TRIGGER refuse BEFORE UPDATE ON screenshots BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(store->updateScreenshot(id, {.name = "m"}));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("refused"));
    EXPECT_THAT(column("SELECT name FROM screenshots"), ElementsAre("\"n\""));

    ScreenshotsDB closed;
    EXPECT_FALSE(closed.updateScreenshot(id, {.name = "m"}));
}

TEST_F(LibraryWritesTest, DeleteFolderRemovesItsLinksButNotItsScreenshots)
{
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    const qint64 other = *store->insertFolder("G", false, std::nullopt);
    for (const char* name : {"a", "b", "c"}) {
        (void)store->insertFolderScreenshot(addScreenshot(*store, name), folder);
    }
    (void)store->insertFolderScreenshot(1, other);
    (void)store->deleteFolder(folder);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM folders"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 3);
}

TEST_F(LibraryWritesTest, DeleteScreenshotRemovesItsLinksRowAndIndexEntry)
{
    const qint64 kept = addScreenshot(*store, "kept", "zebra");
    const qint64 gone = addScreenshot(*store, "gone", "zebra");
    (void)store->insertFolderScreenshot(gone, *store->insertFolder("F", false, std::nullopt));
    (void)store->insertFolderScreenshot(gone, *store->insertFolder("G", false, std::nullopt));
    (void)store->deleteScreenshot(gone);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 0);
    EXPECT_THAT(column("SELECT id FROM screenshots"), ElementsAre(std::to_string(kept)));
    EXPECT_THAT(column("SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH 'zebra'"),
                ElementsAre(std::to_string(kept)));
    EXPECT_NO_THROW(checkIndexIntegrity());
}

TEST_F(LibraryWritesTest, EachDeleteIsOneTransaction)
{
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    const qint64 shot = addScreenshot(*store, "a");
    (void)store->insertFolderScreenshot(shot, folder);
    // The second statement of each delete is refused: the first must not stay done.
    rawConnection()->executeScript(
        "CREATE TRIGGER keep_screenshots BEFORE DELETE ON screenshots BEGIN SELECT RAISE(ABORT, 'kept'); END;"
        "CREATE TRIGGER keep_folders BEFORE DELETE ON folders BEGIN SELECT RAISE(ABORT, 'kept'); END;");
    ::testing::internal::CaptureStdout();
    (void)store->deleteScreenshot(shot);
    (void)store->deleteFolder(folder);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("kept"));
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM folders"), 1);
}

TEST(StoreErrorTest, ACorruptionIsToldByTheErrorsKindAndCodeNotItsText)
{
    using Kind = StoreError::Kind;
    EXPECT_EQ(StoreError::caught(sqlite::Result::error("database disk image is malformed", 11)).kind(),
              Kind::corruption);
    EXPECT_EQ(StoreError::caught(sqlite::Result::extendedError("malformed", 11 | (1 << 8))).kind(), Kind::corruption);
    EXPECT_EQ(StoreError::caught(sqlite::Result::error("file is not a database", 26)).kind(), Kind::corruption);
    EXPECT_EQ(StoreError::caught(sqlite::Result::error("no such column: \"code: 11\"", 1)).kind(), Kind::failed);
    EXPECT_EQ(StoreError::caught(sqlite::QueryError::noSuchColumn("code: 11", {})).kind(), Kind::failed);
    EXPECT_EQ(StoreError::caught(std::runtime_error("(code: 11)")).kind(), Kind::failed);
    const StoreError error = StoreError::caught(sqlite::Result::error("disk I/O error", 10));
    EXPECT_EQ(error.description(), "disk I/O error (code: 10)");
    EXPECT_STREQ(error.what(), "disk I/O error (code: 10)");
}

TEST_F(LibraryWritesTest, OnlyACorruptIndexIsRebuiltAndTriedOnceMore)
{
    struct Case {
        const char* label;
        std::function<void()> raise;
        int loads;
        std::string log;
        /// Damage that the index rebuild does not mend has the library rebuilt, and the load tried a third time.
        bool mended = false;
    };
    const std::vector<Case> cases{
        {"corrupt every time", [] { throw sqlite::Result::error("malformed", 11); }, 3,
         "Error loading screenshots from DB: malformed (code: 11)\n", true},
        {"another SQLite error", [] { throw sqlite::Result::error("no such table: x", 1); }, 1,
         "Error loading screenshots from DB: no such table: x (code: 1)\n"},
        {"not an SQLite error whose text says code: 11", [] { throw std::runtime_error("(code: 11)"); }, 1,
         "Error loading screenshots from DB: (code: 11)\n"},
        {"a store result that failed on a corrupt index",
         [] { StoreResult<void>(StoreError(StoreError::Kind::corruption, "malformed (code: 11)")).value(); }, 3,
         "Error loading screenshots from DB: malformed (code: 11)\n", true},
        {"a store result that failed otherwise",
         [] { StoreResult<qint64>(StoreError(StoreError::Kind::failed, "disk I/O error (code: 10)")).value(); }, 1,
         "Error loading screenshots from DB: disk I/O error (code: 10)\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.label);
        int loads = 0;
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(loadRebuildingIndexOnce(*store, [&] {
            ++loads;
            test.raise();
        }));
        ::testing::internal::GetCapturedStdout();
        const std::string log = ::testing::internal::GetCapturedStderr();
        if (test.mended) {
            EXPECT_THAT(log, ::testing::AllOf(::testing::StartsWith("Rebuilding index\nThe library is damaged: "),
                                              ::testing::HasSubstr("\nThe library was repaired: "),
                                              ::testing::EndsWith(test.log)));
        } else {
            EXPECT_EQ(log, test.log);
        }
        EXPECT_EQ(loads, test.loads);
    }
    int loads = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(loadRebuildingIndexOnce(*store, [&] {
        if (++loads == 1) {
            throw sqlite::Result::extendedError("malformed", 267);
        }
    }));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Rebuilding index\n");
    EXPECT_EQ(loads, 2);
}

TEST_F(LibraryWritesTest, AWriteWaitsForAnotherConnectionsLockInsteadOfLosingTheRow)
{
    const auto other = rawConnection();
    other->executeScript("BEGIN IMMEDIATE; CREATE TABLE held (x);");
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other->executeScript("COMMIT;");
    });
    const std::optional<qint64> id = store->insertScreenshot({.name = "a", .path = "file:///a.png", .text = "t"});
    release.join();
    EXPECT_TRUE(id);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 1);
}

} // namespace
} // namespace lumetrove
