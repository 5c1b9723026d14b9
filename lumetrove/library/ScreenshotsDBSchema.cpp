// The library store's schema: the tables and indexes of each version, and the migrations between them.
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

#include <stdexcept>
#include <unordered_map>

namespace lumetrove {

using namespace store;

namespace {

// The schema ----------------------------------------------------------------------------------------------

constexpr const char* tablesScript = R"(CREATE TABLE screenshots (
    id INTEGER PRIMARY KEY NOT NULL,
    name TEXT NULL,
    description TEXT NULL,
    keywords TEXT NULL,
    path TEXT NOT NULL,
    text TEXT NOT NULL,
    captured_app_bundle_id TEXT NULL,
    captured_app_name TEXT NULL,
    ai_results TEXT NULL,
    was_imported BOOLEAN,
    created_at DATETIME DEFAULT CURRENT_TIMESTAMP
);

CREATE TABLE folders (
    id INTEGER PRIMARY KEY,
    folder_name TEXT,
    sort_order INTEGER,
    is_smart_folder BOOLEAN DEFAULT 0,
    text_filter TEXT,
    keywords_filter TEXT
);

CREATE TABLE folders_screenshots (
    folder_id INTEGER,
    screenshot_id INTEGER,
    -- Making these two as a composite primary key
    PRIMARY KEY (folder_id, screenshot_id),
    -- The below two are foreign keys linking back to their original tables
    FOREIGN KEY (folder_id) REFERENCES folders(id),
    FOREIGN KEY (screenshot_id) REFERENCES screenshots(id)
);)";

constexpr std::array<const char*, 3> assistantColumnStatements{
    "ALTER TABLE screenshots ADD COLUMN is_ai_assistant_task BOOLEAN DEFAULT 0",
    "ALTER TABLE screenshots ADD COLUMN ai_assistant_task TEXT NULL",
    "ALTER TABLE screenshots ADD COLUMN ai_assistant_results TEXT NULL",
};

// File changes in flight. A rename moves the image before its row is saved, a delete moves it to the Trash
// before its row goes: each is written here first, so that when the program dies in between, the next open
// finishes it (a delete) or points the row at wherever its image is (a move).
constexpr const char* pendingFileChangesStatement = "CREATE TABLE IF NOT EXISTS pending_file_changes (\n"
                                                    "    screenshot_id INTEGER PRIMARY KEY,\n"
                                                    "    change TEXT NOT NULL,\n"
                                                    "    source TEXT NOT NULL,\n"
                                                    "    target TEXT\n"
                                                    ");";
// New images in flight: a capture or an import notes each image before its file is written, and the insert of
// its row takes the note away; a run killed in between leaves the note, and the next open lists the image.
constexpr const char* pendingNewImagesStatement = "CREATE TABLE IF NOT EXISTS pending_new_images (\n"
                                                  "    path TEXT PRIMARY KEY NOT NULL,\n"
                                                  "    name TEXT NOT NULL,\n"
                                                  "    was_imported BOOLEAN NOT NULL\n"
                                                  ");";
// Rows whose text is still to be recognised: a capture's text arrives after its row, and a row given back by
// an open has none yet. Each goes once its text is stored, so a run that ends first leaves it for the next.
constexpr const char* pendingTextStatement = "CREATE TABLE IF NOT EXISTS pending_text_recognition (\n"
                                             "    screenshot_id INTEGER PRIMARY KEY\n"
                                             ");";
// The sidebar counts the screenshots of each period, and a list of a period finds its screenshots, by time.
constexpr const char* createdAtIndexStatement =
    "CREATE INDEX IF NOT EXISTS screenshots_created_at ON screenshots(created_at);";
// A list load reads these columns of every screenshot; an index that holds them all spares it the table,
// whose rows are long with recognised text.
constexpr const char* listIndexStatement =
    "CREATE INDEX IF NOT EXISTS screenshots_list ON screenshots(id, name, created_at, description, keywords, "
    "path, captured_app_bundle_id, captured_app_name, is_ai_assistant_task, ai_assistant_task, was_imported);";

std::string indexScript()
{
    std::string script = porterIndex.tableStatement();
    for (const Trigger& trigger : porterIndex.triggers()) {
        script += "\n\n";
        script += trigger.sql;
    }
    return script;
}

} // namespace

void ScreenshotsDB::migrate()
{
    const std::optional<std::int32_t> version = db_->userVersion();
    if (!version || (*version != 0 && *version != 1)) {
        printLine(QStringLiteral("Database is up to date"));
        if (version == 2) {
            completeSchema();
        }
        return;
    }
    if (*version == 0 && !createInitialTables()) {
        return;
    }
    if (addAssistantColumns()) {
        completeSchema();
    }
}

/// What a library at the current version needs beyond its tables: current index triggers, the word index and
/// the record of file changes; then the file changes that a killed run left half done are finished. A file of
/// an unknown version is left alone.
void ScreenshotsDB::completeSchema()
{
    repairIndexTriggers();
    addWordIndex();
    const StoreResult<void> completed = run(*this, printed, [](sqlite::Connection& db) {
        db.executeScript(listIndexStatement);
        db.executeScript(createdAtIndexStatement);
        db.executeScript(pendingFileChangesStatement);
        db.executeScript(pendingNewImagesStatement);
        db.executeScript(pendingTextStatement);
    });
    if (!completed) {
        return;
    }
    fileJournal_ = true;
    finishPendingFileChanges();
    finishPendingNewImages();
}

bool ScreenshotsDB::hasTable(const char* name)
{
    const std::optional<sqlite::Binding> count =
        db_->scalar("SELECT count(*) FROM sqlite_master WHERE name = ?", std::string(name));
    return count && std::get<std::int64_t>(*count) > 0;
}

/// Libraries made before the word index existed get it once, filled from their screenshots, in one
/// transaction with its triggers. Without FTS5 (no porter index either) there is nothing to add.
void ScreenshotsDB::addWordIndex()
{
    (void)run(*this, printed, [&](sqlite::Connection&) {
        if (!hasTable("screenshots_fts")) {
            return;
        }
        if (hasTable("screenshots_words")) {
            wordIndex_ = true;
            return;
        }
        if (countScreenshots().value_or(0) > 0) {
            systemLog(QStringLiteral("Building the word index"));
        }
        db_->transaction([&] {
            db_->executeScript(wordIndex.tableStatement());
            for (const Trigger& trigger : wordIndex.triggers()) {
                db_->executeScript(trigger.sql);
            }
            db_->executeScript(wordIndex.rebuildStatement());
        });
        wordIndex_ = true;
    });
}

/// Version 0 to 1, in one transaction with the version change: a failure leaves the file as it was.
StoreResult<void> ScreenshotsDB::createInitialTables()
{
    StoreResult<void> index;
    const StoreResult<void> created = run(*this, printed, [&](sqlite::Connection& db) {
        db.transaction([&] {
            db.executeScript(tablesScript);
            // The index may fail on its own (an SQLite without FTS5): the plain tables still work. The
            // savepoint takes back whatever part of the index script did run.
            index = attempt([&] { db.savepoint("screenshots_fts", [&] { db.executeScript(indexScript()); }); });
            db.setUserVersion(1);
            if (db.userVersion() != 1) {
                throw std::runtime_error("Could not set the database version to 1");
            }
        });
    });
    if (created && index) {
        printLine(QStringLiteral("Created initial DB tables"));
    } else if (created) {
        logFailure(index.error(), printed);
    }
    return created;
}

/// Version 1 to 2, in one transaction with the version change, so that a failure leaves no column behind
/// and the next launch starts again cleanly.
StoreResult<void> ScreenshotsDB::addAssistantColumns()
{
    constexpr FailureLog migrationFailed{"Migration failed: "};
    const StoreResult<void> added = run(*this, migrationFailed, [](sqlite::Connection& db) {
        db.transaction([&] {
            for (const char* statement : assistantColumnStatements) {
                db.runStatement(statement);
            }
            db.setUserVersion(2);
            if (db.userVersion() != 2) {
                throw std::runtime_error("Could not set the database version to 2");
            }
        });
    });
    if (added) {
        printLine(QStringLiteral("Applied migrations to bring DB to version 2"));
    }
    return added;
}

/// Libraries written by earlier versions carry triggers that leave the index rows' rowids to FTS5; their
/// index no longer matches its content. Replace the triggers and rebuild the index once, in one transaction.
void ScreenshotsDB::repairIndexTriggers()
{
    (void)run(*this, printed, [&](sqlite::Connection&) {
        const std::shared_ptr<sqlite::Statement> existing =
            db_->prepare("SELECT type, name, sql FROM sqlite_master WHERE name = 'screenshots_fts' OR "
                         "(type = 'trigger' AND tbl_name = 'screenshots')");
        bool hasIndex = false;
        std::unordered_map<std::string, std::string> triggers;
        while (const std::optional<sqlite::Bindings> row = existing->failableNext()) {
            const std::optional<QString> type = readText(*row, 0);
            const std::optional<QString> name = readText(*row, 1);
            if (type == QStringLiteral("table")) {
                hasIndex = true;
            } else if (name) {
                triggers[name->toStdString()] = readText(*row, 2).value_or(QString()).toStdString();
            }
        }
        if (!hasIndex) {
            return; // the index could not be made when the library was created; nothing to repair
        }
        const std::array<Trigger, 4> indexTriggers = porterIndex.triggers();
        bool current = true;
        for (const Trigger& trigger : indexTriggers) {
            const auto found = triggers.find(trigger.name);
            // sqlite_master keeps a trigger's text without the final semicolon.
            std::string expected = trigger.sql;
            expected.pop_back();
            current = current && found != triggers.end() && found->second == expected;
        }
        if (current) {
            return;
        }
        systemLog(QStringLiteral("Rebuilding index"));
        db_->transaction([&] {
            for (const Trigger& trigger : indexTriggers) {
                db_->executeScript("DROP TRIGGER IF EXISTS " + std::string(trigger.name) + ";");
                db_->executeScript(trigger.sql);
            }
            db_->executeScript(porterIndex.rebuildStatement());
        });
    });
}

} // namespace lumetrove
