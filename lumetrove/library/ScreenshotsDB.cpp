#include "lumetrove/library/ScreenshotsDB.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/platform/Log.h"
#include "sqlite/Connection.h"
#include "sqlite/Errors.h"
#include "sqlite/Statement.h"

#include <array>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace lumetrove {
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

constexpr const char* indexTableStatement =
    "CREATE VIRTUAL TABLE screenshots_fts USING fts5(content='screenshots', content_rowid='id', id UNINDEXED, "
    "name, description, keywords, path, text, captured_app_name, tokenize=porter);";

// The index rows are keyed by rowid = the screenshot's id. In an external-content index the rowid is what
// ties an index row to its content row: a row inserted without it gets a rowid of FTS5's choosing, and a
// search then reads the content of another screenshot. Deleting by rowid is a keyed delete; deleting by the
// unindexed id column would scan the whole index. The removing triggers run BEFORE the change so that FTS5
// still reads the old content, which tells it which tokens to take out.
struct Trigger {
    const char* name;
    const char* sql;
};
constexpr std::array<Trigger, 4> indexTriggers{{
    {"screenshots_fts_before_update",
     "CREATE TRIGGER screenshots_fts_before_update BEFORE UPDATE ON screenshots BEGIN\n"
     "    DELETE FROM screenshots_fts WHERE rowid=old.id;\n"
     "END;"},
    {"screenshots_fts_before_delete",
     "CREATE TRIGGER screenshots_fts_before_delete BEFORE DELETE ON screenshots BEGIN\n"
     "    DELETE FROM screenshots_fts WHERE rowid=old.id;\n"
     "END;"},
    {"screenshots_after_update",
     "CREATE TRIGGER screenshots_after_update AFTER UPDATE ON screenshots BEGIN\n"
     "    INSERT INTO screenshots_fts(rowid, id, name, description, keywords, path, text, captured_app_name) "
     "VALUES (new.id, new.id, new.name, new.description, new.keywords, new.path, new.text, new.captured_app_name);\n"
     "END;"},
    {"screenshots_after_insert",
     "CREATE TRIGGER screenshots_after_insert AFTER INSERT ON screenshots BEGIN\n"
     "    INSERT INTO screenshots_fts(rowid, id, name, description, keywords, path, text, captured_app_name) "
     "VALUES (new.id, new.id, new.name, new.description, new.keywords, new.path, new.text, new.captured_app_name);\n"
     "END;"},
}};

constexpr std::array<const char*, 3> assistantColumnStatements{
    "ALTER TABLE screenshots ADD COLUMN is_ai_assistant_task BOOLEAN DEFAULT 0",
    "ALTER TABLE screenshots ADD COLUMN ai_assistant_task TEXT NULL",
    "ALTER TABLE screenshots ADD COLUMN ai_assistant_results TEXT NULL",
};

constexpr const char* rebuildStatement = "INSERT INTO screenshots_fts(screenshots_fts) VALUES('rebuild');";

std::string indexScript()
{
    std::string script = indexTableStatement;
    for (const Trigger& trigger : indexTriggers) {
        script += "\n\n";
        script += trigger.sql;
    }
    return script;
}

// Values ----------------------------------------------------------------------------------------------------

std::optional<sqlite::Binding> text(const QString& value)
{
    return sqlite::Binding(value.toStdString());
}

std::optional<sqlite::Binding> text(const std::optional<QString>& value)
{
    return value ? text(*value) : std::nullopt;
}

std::optional<sqlite::Binding> integer(qint64 value)
{
    return sqlite::Binding(static_cast<std::int64_t>(value));
}

std::optional<sqlite::Binding> boolean(bool value)
{
    return integer(value ? 1 : 0);
}

std::optional<QString> textValue(const std::optional<sqlite::Binding>& value)
{
    if (value) {
        if (const auto* stored = std::get_if<std::string>(&*value)) {
            return QString::fromStdString(*stored);
        }
    }
    return std::nullopt;
}

std::optional<qint64> integerValue(const std::optional<sqlite::Binding>& value)
{
    if (value) {
        if (const auto* stored = std::get_if<std::int64_t>(&*value)) {
            return *stored;
        }
    }
    return std::nullopt;
}

std::optional<sqlite::Binding> at(const sqlite::Bindings& values, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < values.size() ? values[static_cast<std::size_t>(index)]
                                                                         : std::nullopt;
}

void printError(const std::exception& error)
{
    printLine(QString::fromUtf8(error.what()));
}

// Queries ---------------------------------------------------------------------------------------------------

/// SELECT text and bound values built up clause by clause.
struct Query {
    std::string sql;
    sqlite::Bindings values;
};

/// The join of the screenshots with their index entries that match `pattern`. Index rows are keyed by the
/// screenshot's id, so the join goes through the index's rowid: reading its `id` column instead would fetch
/// every matching row's content a second time.
void joinIndexMatch(Query& query, const QString& pattern)
{
    query.sql += R"( INNER JOIN "screenshots_fts" ON (("screenshots_fts"."rowid" = "screenshots"."id") AND )"
                 R"(("screenshots_fts" MATCH ?)))";
    query.values.push_back(text(pattern));
}

} // namespace

bool isCorruptionError(const std::exception& error)
{
    return std::string_view(error.what()).find("code: 11") != std::string_view::npos;
}

// Rows ------------------------------------------------------------------------------------------------------

ScreenshotRowReader::ScreenshotRowReader(const sqlite::Statement& statement)
{
    std::unordered_map<std::string, int> columns;
    const std::vector<std::string>& names = statement.columnNames();
    for (int index = 0; index < static_cast<int>(names.size()); ++index) {
        columns.emplace(names[static_cast<std::size_t>(index)], index); // the first of a name wins
    }
    const auto column = [&](const char* name) {
        const auto found = columns.find(name);
        return found == columns.end() ? -1 : found->second;
    };
    id_ = column("id");
    name_ = column("name");
    createdAt_ = column("created_at");
    description_ = column("description");
    keywords_ = column("keywords");
    aiResults_ = column("ai_results");
    path_ = column("path");
    text_ = column("text");
    capturedAppName_ = column("captured_app_name");
    capturedAppBundleId_ = column("captured_app_bundle_id");
    isAIAssistantTask_ = column("is_ai_assistant_task");
    aiAssistantTask_ = column("ai_assistant_task");
    aiAssistantResults_ = column("ai_assistant_results");
    wasImported_ = column("was_imported");
}

std::optional<ScreenshotRow> ScreenshotRowReader::read(const sqlite::Bindings& values) const
{
    const std::optional<qint64> id = integerValue(at(values, id_));
    const std::optional<QString> path = textValue(at(values, path_));
    if (!id || !path) {
        return std::nullopt;
    }
    ScreenshotRow row;
    row.id = *id;
    row.path = *path;
    row.name = textValue(at(values, name_));
    row.createdAt = textValue(at(values, createdAt_));
    row.description = textValue(at(values, description_));
    row.keywords = textValue(at(values, keywords_));
    row.aiResults = textValue(at(values, aiResults_));
    row.text = textValue(at(values, text_));
    row.capturedAppName = textValue(at(values, capturedAppName_));
    row.capturedAppBundleId = textValue(at(values, capturedAppBundleId_));
    row.isAIAssistantTask = integerValue(at(values, isAIAssistantTask_)).value_or(0) != 0;
    row.aiAssistantTask = textValue(at(values, aiAssistantTask_));
    row.aiAssistantResults = textValue(at(values, aiAssistantResults_));
    row.wasImported = integerValue(at(values, wasImported_)).value_or(0) != 0;
    return row;
}

// Opening and migrating -------------------------------------------------------------------------------------

ScreenshotsDB::ScreenshotsDB() = default;
ScreenshotsDB::~ScreenshotsDB() = default;

const std::shared_ptr<ScreenshotsDB>& ScreenshotsDB::shared()
{
    static const std::shared_ptr<ScreenshotsDB> instance = [] {
        auto store = std::make_shared<ScreenshotsDB>();
        store->openDatabase();
        return store;
    }();
    return instance;
}

void ScreenshotsDB::openDatabase()
{
    openDatabase(databaseFilePath());
}

void ScreenshotsDB::openDatabase(const std::optional<QString>& path)
{
    if (!path) {
        systemLog(QStringLiteral("Failed to get DB path"));
        return;
    }
    try {
        db_ = sqlite::Connection::openPath(path->toStdString(), false);
    } catch (const std::exception& error) {
        printError(error);
        return;
    }
    migrate();
}

void ScreenshotsDB::migrate()
{
    const std::optional<std::int32_t> version = db_->userVersion();
    if (!version || (*version != 0 && *version != 1)) {
        printLine(QStringLiteral("Database is up to date"));
        if (version == 2) {
            repairIndexTriggers();
        }
        return;
    }
    if (*version == 0 && !createInitialTables()) {
        return;
    }
    if (addAssistantColumns()) {
        repairIndexTriggers();
    }
}

/// Version 0 to 1, in one transaction with the version change: a failure leaves the file as it was.
bool ScreenshotsDB::createInitialTables()
{
    bool tablesCreated = false;
    std::optional<std::string> indexError;
    try {
        db_->transaction([&] {
            db_->executeScript(tablesScript);
            tablesCreated = true;
            // The index may fail on its own (an SQLite without FTS5): the plain tables still work. The
            // savepoint takes back whatever part of the index script did run.
            try {
                db_->savepoint("screenshots_fts", [&] { db_->executeScript(indexScript()); });
            } catch (const std::exception& error) {
                indexError = error.what();
            }
            db_->setUserVersion(1);
            if (db_->userVersion() != 1) {
                throw std::runtime_error("Could not set the database version to 1");
            }
        });
    } catch (const std::exception& error) {
        printError(error);
        return false;
    }
    printLine(indexError ? QString::fromStdString(*indexError) : QStringLiteral("Created initial DB tables"));
    return tablesCreated;
}

/// Version 1 to 2, in one transaction with the version change, so that a failure leaves no column behind
/// and the next launch starts again cleanly.
bool ScreenshotsDB::addAssistantColumns()
{
    try {
        db_->transaction([&] {
            for (const char* statement : assistantColumnStatements) {
                db_->runStatement(statement);
            }
            db_->setUserVersion(2);
            if (db_->userVersion() != 2) {
                throw std::runtime_error("Could not set the database version to 2");
            }
        });
    } catch (const std::exception& error) {
        printLine(QStringLiteral("Migration failed: ") + QString::fromUtf8(error.what()));
        return false;
    }
    printLine(QStringLiteral("Applied migrations to bring DB to version 2"));
    return true;
}

/// Libraries written by earlier versions carry triggers that leave the index rows' rowids to FTS5; their
/// index no longer matches its content. Replace the triggers and rebuild the index once, in one transaction.
void ScreenshotsDB::repairIndexTriggers()
{
    try {
        const std::shared_ptr<sqlite::Statement> existing =
            db_->prepare("SELECT type, name, sql FROM sqlite_master WHERE name = 'screenshots_fts' OR "
                         "(type = 'trigger' AND tbl_name = 'screenshots')");
        bool hasIndex = false;
        std::unordered_map<std::string, std::string> triggers;
        while (const std::optional<sqlite::Bindings> row = existing->failableNext()) {
            const std::optional<QString> type = textValue(at(*row, 0));
            const std::optional<QString> name = textValue(at(*row, 1));
            if (type == QStringLiteral("table")) {
                hasIndex = true;
            } else if (name) {
                triggers[name->toStdString()] = textValue(at(*row, 2)).value_or(QString()).toStdString();
            }
        }
        if (!hasIndex) {
            return; // the index could not be made when the library was created; nothing to repair
        }
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
            db_->executeScript(rebuildStatement);
        });
    } catch (const std::exception& error) {
        printError(error);
    }
}

// Writes ----------------------------------------------------------------------------------------------------

std::optional<qint64> ScreenshotsDB::insertFolder(const QString& name, bool isSmartFolder,
                                                  const std::optional<QString>& keywordsFilter)
{
    if (!db_) {
        return std::nullopt;
    }
    try {
        return db_->sync([&] {
            db_->runStatement(
                R"(INSERT INTO "folders" ("folder_name", "sort_order", "is_smart_folder", "keywords_filter") )"
                R"(VALUES (?, ?, ?, ?))",
                sqlite::Bindings{text(name), integer(0), boolean(isSmartFolder), text(keywordsFilter)});
            return static_cast<qint64>(db_->lastInsertRowid());
        });
    } catch (const std::exception& error) {
        printError(error);
        return std::nullopt;
    }
}

void ScreenshotsDB::updateFolder(const Folder& folder)
{
    if (!db_) {
        return;
    }
    try {
        db_->runStatement(R"(UPDATE "folders" SET "folder_name" = ?, "sort_order" = ?, "is_smart_folder" = ?, )"
                          R"("keywords_filter" = ? WHERE ("id" = ?))",
                          sqlite::Bindings{text(folder.name), integer(folder.sort_order), boolean(folder.isSmartFolder),
                                           text(folder.keywordsFilter), integer(folder.id)});
    } catch (const std::exception& error) {
        printError(error);
    }
}

void ScreenshotsDB::deleteFolder(qint64 folderId)
{
    if (!db_) {
        return;
    }
    try {
        db_->runStatement(R"(DELETE FROM "folders_screenshots" WHERE ("folder_id" = ?))",
                          sqlite::Bindings{integer(folderId)});
    } catch (const std::exception& error) {
        printError(error);
    }
    try {
        db_->runStatement(R"(DELETE FROM "folders" WHERE ("id" = ?))", sqlite::Bindings{integer(folderId)});
    } catch (const std::exception& error) {
        printError(error);
    }
}

void ScreenshotsDB::insertFolderScreenshot(qint64 screenshotId, qint64 folderId)
{
    if (!db_) {
        return;
    }
    try {
        db_->runStatement(R"(INSERT INTO "folders_screenshots" ("folder_id", "screenshot_id") VALUES (?, ?))",
                          sqlite::Bindings{integer(folderId), integer(screenshotId)});
    } catch (const std::exception& error) {
        printError(error);
    }
}

void ScreenshotsDB::removeScreenshotFromFolders(qint64 screenshotId)
{
    if (!db_) {
        return;
    }
    try {
        db_->runStatement(R"(DELETE FROM "folders_screenshots" WHERE ("screenshot_id" = ?))",
                          sqlite::Bindings{integer(screenshotId)});
    } catch (const std::exception& error) {
        printError(error);
    }
}

std::optional<qint64> ScreenshotsDB::insertScreenshot(const std::optional<QString>& name, const QString& path,
                                                      const std::optional<QString>& text_,
                                                      const std::optional<QString>& capturedAppBundleId,
                                                      const std::optional<QString>& capturedAppName,
                                                      bool isAIAssistantTask,
                                                      const std::optional<QString>& aiAssistantTask, bool wasImported)
{
    if (!db_) {
        return std::nullopt;
    }
    try {
        return db_->sync([&] {
            db_->runStatement(
                R"(INSERT INTO "screenshots" ("name", "path", "text", "captured_app_bundle_id", "captured_app_name", )"
                R"("is_ai_assistant_task", "ai_assistant_task", "was_imported") VALUES (?, ?, ?, ?, ?, ?, ?, ?))",
                sqlite::Bindings{text(name), text(path), text(text_), text(capturedAppBundleId), text(capturedAppName),
                                 boolean(isAIAssistantTask), text(aiAssistantTask), boolean(wasImported)});
            return static_cast<qint64>(db_->lastInsertRowid());
        });
    } catch (const std::exception& error) {
        printError(error);
        return std::nullopt;
    }
}

void ScreenshotsDB::updateScreenshot(qint64 screenshotId, const std::optional<QString>& name,
                                     const std::optional<QString>& description, const std::optional<QString>& keywords,
                                     const std::optional<QString>& path, const std::optional<QString>& aiResults,
                                     const std::optional<QString>& aiAssistantTask,
                                     const std::optional<QString>& aiAssistantResults)
{
    if (!db_) {
        return;
    }
    std::string sql = R"(UPDATE "screenshots" SET "name" = ?, "description" = ?, "keywords" = ?, )";
    sqlite::Bindings values{text(name), text(description), text(keywords)};
    if (path) {
        sql += R"("path" = ?, )";
        values.push_back(text(*path));
    }
    sql += R"("ai_results" = ?, "ai_assistant_task" = ?, "ai_assistant_results" = ? WHERE ("id" = ?))";
    for (const std::optional<sqlite::Binding>& value :
         {text(aiResults), text(aiAssistantTask), text(aiAssistantResults), integer(screenshotId)}) {
        values.push_back(value);
    }
    try {
        db_->runStatement(sql, values);
    } catch (const std::exception& error) {
        printError(error);
    }
}

void ScreenshotsDB::deleteScreenshot(qint64 screenshotId)
{
    if (!db_) {
        return;
    }
    try {
        db_->runStatement(R"(DELETE FROM "folders_screenshots" WHERE ("screenshot_id" = ?))",
                          sqlite::Bindings{integer(screenshotId)});
    } catch (const std::exception& error) {
        printError(error);
    }
    try {
        db_->runStatement(R"(DELETE FROM "screenshots" WHERE ("id" = ?))", sqlite::Bindings{integer(screenshotId)});
    } catch (const std::exception& error) {
        printError(error);
    }
}

// Reads -----------------------------------------------------------------------------------------------------

std::shared_ptr<sqlite::Statement> ScreenshotsDB::queryScreenshots(const std::optional<QString>& searchText,
                                                                   const std::optional<Folder>& folder,
                                                                   const std::optional<FolderSection>& period)
{
    const std::optional<QString> pattern = ftsSearchQuery(folder ? folder->keywordsFilter : std::nullopt, searchText);
    Query query;
    if (pattern) {
        query.sql = R"(SELECT "screenshots".* FROM "screenshots")";
        joinIndexMatch(query, *pattern);
    } else {
        query.sql = R"(SELECT * FROM "screenshots")";
    }
    const bool plainFolder = folder && !folder->isSmartFolder;
    if (plainFolder) {
        query.sql += R"( INNER JOIN "folders_screenshots" ON ("screenshots"."id" = "screenshot_id"))";
    }
    std::string filter;
    if (const std::optional<DateRange> range = dateRangeFilter(period)) {
        filter = R"((("created_at" >= ?) AND ("created_at" <= ?)))";
        query.values.push_back(text(range->lower));
        query.values.push_back(text(range->upper));
    }
    if (plainFolder) {
        filter = filter.empty() ? R"(("folder_id" = ?))" : "(" + filter + R"( AND ("folder_id" = ?)))";
        query.values.push_back(integer(folder->id));
    }
    if (!filter.empty()) {
        query.sql += " WHERE " + filter;
    }
    query.sql += pattern ? R"( ORDER BY "screenshots"."id" DESC)" : R"( ORDER BY "id" DESC)";
    if (!db_) {
        return nullptr;
    }
    return db_->prepare(query.sql, query.values);
}

std::optional<qint64> ScreenshotsDB::folderIdForScreenshot(qint64 screenshotId)
{
    if (!db_) {
        return std::nullopt;
    }
    try {
        const std::shared_ptr<sqlite::Statement> statement =
            db_->prepare(R"(SELECT * FROM "folders_screenshots" WHERE ("screenshot_id" = ?))",
                         sqlite::Bindings{integer(screenshotId)});
        int folderColumn = -1;
        const std::vector<std::string>& names = statement->columnNames();
        for (int index = 0; index < static_cast<int>(names.size()); ++index) {
            if (names[static_cast<std::size_t>(index)] == "folder_id") {
                folderColumn = index;
            }
        }
        if (const std::optional<sqlite::Bindings> row = statement->next()) {
            return integerValue(at(*row, folderColumn));
        }
        return std::nullopt;
    } catch (const std::exception& error) {
        printError(error);
        return std::nullopt;
    }
}

QHash<qint64, qint64> ScreenshotsDB::folderIdsOfScreenshots()
{
    QHash<qint64, qint64> folders;
    if (!db_) {
        return folders;
    }
    const std::shared_ptr<sqlite::Statement> statement =
        db_->prepare(R"(SELECT "screenshot_id", "folder_id" FROM "folders_screenshots")");
    while (const std::optional<sqlite::Bindings> row = statement->failableNext()) {
        const std::optional<qint64> screenshotId = integerValue(at(*row, 0));
        const std::optional<qint64> folderId = integerValue(at(*row, 1));
        if (screenshotId && folderId && !folders.contains(*screenshotId)) {
            folders.insert(*screenshotId, *folderId);
        }
    }
    return folders;
}

std::optional<qint64> ScreenshotsDB::countScreenshotsInFolder(const std::optional<Folder>& folder)
{
    if (!folder || !db_) {
        return std::nullopt;
    }
    Query query;
    if (!folder->isSmartFolder) {
        query.sql = R"(SELECT count(*) FROM "folders_screenshots" WHERE ("folder_id" = ?))";
        query.values.push_back(integer(folder->id));
    } else {
        const std::optional<QString> pattern = ftsSearchQuery(folder->keywordsFilter, std::nullopt);
        if (!pattern || pattern->isEmpty()) {
            return std::nullopt;
        }
        query.sql = R"(SELECT count(*) FROM "screenshots")";
        joinIndexMatch(query, *pattern);
    }
    bool mayRebuild = true;
    while (true) {
        try {
            return integerValue(db_->scalar(query.sql, query.values)).value_or(0);
        } catch (const std::exception& error) {
            if (mayRebuild && isCorruptionError(error)) {
                mayRebuild = false;
                rebuildIndex();
                continue;
            }
            systemLog(QStringLiteral("Error loading screenshots from DB: ") + QString::fromUtf8(error.what()));
            return std::nullopt;
        }
    }
}

std::optional<qint64> ScreenshotsDB::countScreenshotsInPeriod(const FolderSection& section)
{
    const std::optional<DateRange> range = dateRangeFilter(section);
    if (!range || !db_) {
        return std::nullopt;
    }
    try {
        return integerValue(db_->scalar(R"(SELECT count(*) FROM "screenshots" WHERE (("created_at" >= ?) AND )"
                                        R"(("created_at" <= ?)))",
                                        sqlite::Bindings{text(range->lower), text(range->upper)}))
            .value_or(0);
    } catch (const std::exception& error) {
        printError(error);
        return std::nullopt;
    }
}

std::optional<qint64> ScreenshotsDB::countScreenshots()
{
    if (!db_) {
        return std::nullopt;
    }
    try {
        return integerValue(db_->scalar(R"(SELECT count(*) FROM "screenshots")")).value_or(0);
    } catch (const std::exception& error) {
        printError(error);
        return std::nullopt;
    }
}

std::vector<Folder> ScreenshotsDB::queryFolders()
{
    std::vector<Folder> folders;
    if (!db_) {
        return folders;
    }
    const std::shared_ptr<sqlite::Statement> statement =
        db_->prepare(R"(SELECT * FROM "folders" ORDER BY "sort_order" ASC)");
    std::unordered_map<std::string, int> columns;
    const std::vector<std::string>& names = statement->columnNames();
    for (int index = 0; index < static_cast<int>(names.size()); ++index) {
        columns.emplace(names[static_cast<std::size_t>(index)], index);
    }
    const auto column = [&](const char* name) {
        const auto found = columns.find(name);
        return found == columns.end() ? -1 : found->second;
    };
    const int id = column("id"), sortOrder = column("sort_order"), name = column("folder_name"),
              smart = column("is_smart_folder"), keywords = column("keywords_filter");
    while (const std::optional<sqlite::Bindings> row = statement->failableNext()) {
        const std::optional<qint64> folderId = integerValue(at(*row, id));
        if (!folderId) {
            continue; // the store's own writes never leave a folder without id
        }
        folders.push_back(Folder{*folderId, integerValue(at(*row, sortOrder)).value_or(0),
                                 textValue(at(*row, name)).value_or(QString()),
                                 integerValue(at(*row, smart)).value_or(0) != 0, textValue(at(*row, keywords))});
    }
    return folders;
}

void ScreenshotsDB::rebuildIndex()
{
    systemLog(QStringLiteral("Rebuilding index"));
    if (!db_) {
        return;
    }
    try {
        db_->executeScript(rebuildStatement);
    } catch (const std::exception& error) {
        printError(error);
    }
}

} // namespace lumetrove
