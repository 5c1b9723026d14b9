#include "tests/lumetrove/library/LibraryTest.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* versionOneTables = R"(
CREATE TABLE screenshots (id INTEGER PRIMARY KEY NOT NULL, name TEXT NULL, description TEXT NULL,
    keywords TEXT NULL, path TEXT NOT NULL, text TEXT NOT NULL, captured_app_bundle_id TEXT NULL,
    captured_app_name TEXT NULL, ai_results TEXT NULL, was_imported BOOLEAN,
    created_at DATETIME DEFAULT CURRENT_TIMESTAMP);
CREATE TABLE folders (id INTEGER PRIMARY KEY, folder_name TEXT, sort_order INTEGER,
    is_smart_folder BOOLEAN DEFAULT 0, text_filter TEXT, keywords_filter TEXT);
CREATE TABLE folders_screenshots (folder_id INTEGER, screenshot_id INTEGER,
    PRIMARY KEY (folder_id, screenshot_id));
CREATE VIRTUAL TABLE screenshots_fts USING fts5(content='screenshots', content_rowid='id', id UNINDEXED,
    name, description, keywords, path, text, captured_app_name, tokenize=porter);
)";

// The triggers that earlier versions wrote: index rows without a rowid, removal by the unindexed id.
constexpr const char* oldTriggers = R"(
CREATE TRIGGER screenshots_fts_before_update BEFORE UPDATE ON screenshots BEGIN
    DELETE FROM screenshots_fts WHERE id=old.id;
END;
CREATE TRIGGER screenshots_fts_before_delete BEFORE DELETE ON screenshots BEGIN
    DELETE FROM screenshots_fts WHERE id=old.id;
END;
CREATE TRIGGER screenshots_after_update AFTER UPDATE ON screenshots BEGIN
    INSERT INTO screenshots_fts(id, name, description, keywords, path, text, captured_app_name) SELECT id, name, description, keywords, path, text, captured_app_name FROM screenshots WHERE new.id = screenshots.id;
END;
CREATE TRIGGER screenshots_after_insert AFTER INSERT ON screenshots BEGIN
    INSERT INTO screenshots_fts(id, name, description, keywords, path, text, captured_app_name) SELECT id, name, description, keywords, path, text, captured_app_name FROM screenshots WHERE new.id = screenshots.id;
END;
)";

class SchemaMigrationTest : public testing::LibraryTest {
protected:
    void writeVersionOneFile(const std::string& extra = "")
    {
        auto db = rawConnection();
        db->executeScript(std::string(versionOneTables) + oldTriggers + extra);
        db->setUserVersion(1);
    }

    std::vector<std::string> screenshotColumns()
    {
        return column("SELECT '' || name FROM pragma_table_info('screenshots')");
    }

    std::vector<qint64> searchIds(ScreenshotsDB& store, const QString& text)
    {
        std::vector<qint64> ids;
        EXPECT_TRUE(store.queryScreenshots(text, std::nullopt, std::nullopt,
                                           [&](ScreenshotRow&& row) { ids.push_back(row.id); }));
        return ids;
    }
};

TEST_F(SchemaMigrationTest, AFreshFileReachesVersionTwoWithEveryColumnInOrder)
{
    const auto store = openStore();
    ASSERT_TRUE(store->db());
    EXPECT_EQ(openOutput, "Created initial DB tables\nApplied migrations to bring DB to version 2\n");
    EXPECT_EQ(rawConnection()->userVersion(), 2);
    EXPECT_THAT(screenshotColumns(),
                ElementsAre("\"id\"", "\"name\"", "\"description\"", "\"keywords\"", "\"path\"", "\"text\"",
                            "\"captured_app_bundle_id\"", "\"captured_app_name\"", "\"ai_results\"", "\"was_imported\"",
                            "\"created_at\"", "\"is_ai_assistant_task\"", "\"ai_assistant_task\"",
                            "\"ai_assistant_results\""));
    EXPECT_THAT(column("SELECT '' || name FROM sqlite_master WHERE type = 'trigger' ORDER BY name"),
                ElementsAre("\"screenshots_after_insert\"", "\"screenshots_after_update\"",
                            "\"screenshots_fts_before_delete\"", "\"screenshots_fts_before_update\"",
                            "\"screenshots_words_after_insert\"", "\"screenshots_words_after_update\"",
                            "\"screenshots_words_before_delete\"", "\"screenshots_words_before_update\""));
}

TEST_F(SchemaMigrationTest, TheTriggersOfBothIndexesKeepTheLibrarysStatementsAndOnlyAddTheRowid)
{
    openStore();
    // The porter index's inserting triggers carry the table's name alone, as every library has them.
    for (const auto& [index, inserting] : {std::pair<std::string, std::string>{"screenshots_fts", "screenshots"},
                                           {"screenshots_words", "screenshots_words"}}) {
        SCOPED_TRACE(index);
        const std::string copy = "INSERT INTO " + index +
                                 "(rowid, id, name, description, keywords, path, text, captured_app_name) SELECT "
                                 "id, id, name, description, keywords, path, text, captured_app_name FROM "
                                 "screenshots WHERE new.id = screenshots.id;";
        const std::string remove = "DELETE FROM " + index + " WHERE rowid=old.id;";
        const std::vector<std::array<std::string, 3>> triggers{
            {inserting + "_after_insert", "AFTER INSERT", copy},
            {inserting + "_after_update", "AFTER UPDATE", copy},
            {index + "_before_delete", "BEFORE DELETE", remove},
            {index + "_before_update", "BEFORE UPDATE", remove},
        };
        for (const auto& [name, event, body] : triggers) {
            EXPECT_THAT(column("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = '" + name + "'"),
                        ElementsAre("\"CREATE TRIGGER " + name + " " + event + " ON screenshots BEGIN\n    " + body +
                                    "\nEND\""));
        }
    }
}

TEST_F(SchemaMigrationTest, ASecondLaunchChangesNothing)
{
    openStore();
    const auto schema = column("SELECT sql FROM sqlite_master ORDER BY name");
    openStore();
    EXPECT_EQ(openOutput, "Database is up to date\n");
    EXPECT_EQ(column("SELECT sql FROM sqlite_master ORDER BY name"), schema);
}

TEST_F(SchemaMigrationTest, AVersionOneFileGainsTheThreeAssistantColumns)
{
    writeVersionOneFile("INSERT INTO screenshots (name, path, text) VALUES ('kept', 'file:///a.png', 'x');");
    openStore();
    EXPECT_THAT(openOutput, HasSubstr("Applied migrations to bring DB to version 2\n"));
    EXPECT_EQ(rawConnection()->userVersion(), 2);
    EXPECT_EQ(screenshotColumns().size(), 14u);
    EXPECT_THAT(column("SELECT name || '/' || is_ai_assistant_task FROM screenshots"), ElementsAre("\"kept/0\""));
}

TEST_F(SchemaMigrationTest, AFailedStepLeavesTheFileAsItWasAndTheNextLaunchRetries)
{
    // The second of the three columns is already there: the step fails and takes back the first column too.
    writeVersionOneFile("ALTER TABLE screenshots ADD COLUMN ai_assistant_task TEXT NULL;");
    openStore();
    EXPECT_THAT(openOutput, HasSubstr("Migration failed: duplicate column name: ai_assistant_task (code: 1)"));
    EXPECT_EQ(rawConnection()->userVersion(), 1);
    EXPECT_THAT(screenshotColumns(), Not(::testing::Contains("\"is_ai_assistant_task\"")));

    // Once the obstacle is gone, the next launch runs the whole step again from a clean state.
    auto db = rawConnection();
    db->executeScript("ALTER TABLE screenshots DROP COLUMN ai_assistant_task;");
    openStore();
    EXPECT_THAT(openOutput, HasSubstr("Applied migrations to bring DB to version 2"));
    EXPECT_EQ(screenshotColumns().size(), 14u);
}

TEST_F(SchemaMigrationTest, AFailedTableScriptLeavesAnEmptyFileAtVersionZero)
{
    rawConnection()->executeScript("CREATE TABLE folders (x);");
    openStore();
    EXPECT_THAT(openOutput, HasSubstr("table folders already exists (code: 1)"));
    EXPECT_EQ(rawConnection()->userVersion(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'screenshots'"), 0);
}

TEST_F(SchemaMigrationTest, AnUnknownVersionIsLeftAlone)
{
    auto db = rawConnection();
    db->setUserVersion(3);
    openStore();
    EXPECT_EQ(openOutput, "Database is up to date\n");
    EXPECT_EQ(count("SELECT count(*) FROM sqlite_master"), 0);
}

TEST_F(SchemaMigrationTest, OldTriggersAreReplacedAndTheIndexRebuiltOnce)
{
    // Under the old triggers FTS5 numbers index rows itself, so after an update the index rows no longer
    // carry their screenshots' ids: "apple" then points at the fourth screenshot's content.
    writeVersionOneFile(R"(
        INSERT INTO screenshots (name, path, text) VALUES ('first', 'file:///1.png', 'apple');
        INSERT INTO screenshots (name, path, text) VALUES ('second', 'file:///2.png', 'banana');
        INSERT INTO screenshots (name, path, text) VALUES ('third', 'file:///3.png', 'cherry');
        UPDATE screenshots SET name = 'renamed' WHERE id = 1;
        INSERT INTO screenshots (name, path, text) VALUES ('fourth', 'file:///4.png', 'damson');
        INSERT INTO screenshots (name, path, text) VALUES ('fifth', 'file:///5.png', 'settings');)");

    ::testing::internal::CaptureStderr();
    auto store = openStore();
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Rebuilding index"));
    EXPECT_NO_THROW(checkIndexIntegrity());
    EXPECT_THAT(searchIds(*store, "cherry"), ElementsAre(3));
    EXPECT_THAT(searchIds(*store, "damson"), ElementsAre(4));
    EXPECT_THAT(searchIds(*store, "apple"), ElementsAre(1));
    EXPECT_THAT(searchIds(*store, "renamed"), ElementsAre(1));
    // The word index was built from the rows that were there: a prefix past the stem finds its word.
    EXPECT_THAT(searchIds(*store, "settin"), ElementsAre(5));
    EXPECT_THAT(column("SELECT sql FROM sqlite_master WHERE type = 'trigger'"),
                ::testing::Each(Not(HasSubstr("WHERE id=old.id"))));

    // The sidebar's period counts find their screenshots by time, not by reading every row.
    std::vector<std::string> statements;
    store->db()->setTrace([&](const std::string& sql) { statements.push_back(sql); });
    EXPECT_EQ(store->countScreenshotsInPeriod(FolderSection::lastWeek()), 0);
    store->db()->setTrace(nullptr);
    ASSERT_EQ(statements.size(), 1u);
    const auto plan = rawConnection()->prepare("EXPLAIN QUERY PLAN " + statements.front());
    ASSERT_TRUE(plan->step());
    EXPECT_THAT(plan->row().stringAt(3), HasSubstr("USING COVERING INDEX screenshots_created_at"));

    // Repaired once: the next launch finds the new triggers and rebuilds nothing.
    ::testing::internal::CaptureStderr();
    openStore();
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), Not(HasSubstr("Rebuilding index")));
}

TEST_F(SchemaMigrationTest, NoDataDirectoryLeavesTheStoreClosedAndEveryOperationANoOp)
{
    ScreenshotsDB store;
    ::testing::internal::CaptureStderr();
    store.openDatabase(std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to get DB path\n");
    EXPECT_FALSE(store.db());

    ::testing::internal::CaptureStdout();
    constexpr auto noConnection = StoreError::Kind::noConnection;
    EXPECT_EQ(testing::errorKind(store.insertFolder("A", false, std::nullopt)), noConnection);
    EXPECT_EQ(testing::errorKind(store.insertScreenshot({.name = "A", .path = "file:///a.png", .text = "t"})),
              noConnection);
    EXPECT_EQ(testing::errorKind(store.updateScreenshot(1, {.name = "n"})), noConnection);
    EXPECT_EQ(testing::errorKind(store.deleteScreenshot(1)), noConnection);
    EXPECT_EQ(testing::errorKind(store.deleteFolder(1)), noConnection);
    bool rowTaken = false;
    EXPECT_EQ(testing::errorKind(store.queryScreenshots(std::nullopt, std::nullopt, std::nullopt,
                                                        [&](ScreenshotRow&&) { rowTaken = true; })),
              noConnection);
    EXPECT_FALSE(rowTaken);
    EXPECT_EQ(testing::errorKind(store.countScreenshots()), noConnection);
    EXPECT_EQ(testing::errorKind(store.folderIdForScreenshot(1)), noConnection);
    // A file change needs no record when there is no library to record it in.
    EXPECT_TRUE(store.recordDelete(1, "file:///a.png"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(SchemaMigrationTest, AFileThatCannotBeOpenedIsReported)
{
    ScreenshotsDB store;
    ::testing::internal::CaptureStdout();
    store.openDatabase(libraryDirectory() + "/missing/dir/db.sqlite3");
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("(code: 14)"));
    EXPECT_FALSE(store.db());
}

} // namespace
} // namespace lumetrove
