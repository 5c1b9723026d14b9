#pragma once

// What the parts of the library store share (schema handles, value conversions, the one error path, the list
// row reader): for the store's own .cpp files only.

#include "lumetrove/library/ScreenshotRow.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/StoreResult.h"
#include "sqlite/Connection.h"
#include "sqlite/Errors.h"
#include "sqlite/Operators.h"
#include "sqlite/Query.h"
#include "sqlite/QueryRunning.h"
#include "sqlite/RowIterator.h"
#include "sqlite/Setter.h"
#include "sqlite/Statement.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace lumetrove::store {

// The two full-text indexes over the same columns of `screenshots`. The porter index holds word stems only
// ("settings" is kept as "set"), so a prefix typed past the stem ("sett", "settin") matches nothing there. The
// word index keeps the words as they are; a search matches either index, so every typed prefix finds its word
// while a whole word still finds the forms that the stemmer joins.
//
// The index rows are keyed by rowid = the screenshot's id. In an external-content index the rowid is what
// ties an index row to its content row: a row inserted without it gets a rowid of FTS5's choosing, and a
// search then reads the content of another screenshot. Deleting by rowid is a keyed delete; deleting by the
// unindexed id column would scan the whole index. The removing triggers run BEFORE the change so that FTS5
// still reads the old content, which tells it which tokens to take out.
struct Trigger {
    std::string name;
    std::string sql;
};

struct FullTextIndex {
    const char* name;
    /// The first part of the inserting triggers' names: the porter index's carry the table's name alone, as
    /// every library has them.
    const char* insertingTriggerPrefix;
    const char* options;

    static constexpr const char* columns = "name, description, keywords, path, text, captured_app_name";

    std::string tableStatement() const
    {
        return std::string("CREATE VIRTUAL TABLE ") + name +
               " USING fts5(content='screenshots', content_rowid='id', id UNINDEXED, " + columns + ", " + options +
               ");";
    }

    /// The four triggers that keep the index in step with `screenshots`, in the order they are made. Each is
    /// one statement of three lines: its head, its body indented by four spaces, "END;".
    std::array<Trigger, 4> triggers() const
    {
        const auto trigger = [](std::string triggerName, const char* event, const std::string& body) {
            std::string sql =
                "CREATE TRIGGER " + triggerName + " " + event + " ON screenshots BEGIN\n    " + body + "\nEND;";
            return Trigger{std::move(triggerName), std::move(sql)};
        };
        const std::string remove = std::string("DELETE FROM ") + name + " WHERE rowid=old.id;";
        const std::string add = std::string("INSERT INTO ") + name + "(rowid, id, " + columns + ") SELECT id, id, " +
                                columns + " FROM screenshots WHERE new.id = screenshots.id;";
        return {trigger(std::string(name) + "_before_update", "BEFORE UPDATE", remove),
                trigger(std::string(name) + "_before_delete", "BEFORE DELETE", remove),
                trigger(std::string(insertingTriggerPrefix) + "_after_update", "AFTER UPDATE", add),
                trigger(std::string(insertingTriggerPrefix) + "_after_insert", "AFTER INSERT", add)};
    }

    std::string rebuildStatement() const
    {
        return std::string("INSERT INTO ") + name + "(" + name + ") VALUES('rebuild');";
    }
};

constexpr FullTextIndex porterIndex{"screenshots_fts", "screenshots", "tokenize=porter"};
constexpr FullTextIndex wordIndex{"screenshots_words", "screenshots_words", "tokenize='unicode61', prefix='3'"};

// The kinds of `pending_file_changes` rows.
constexpr const char* moveChange = "move";
constexpr const char* deleteChange = "delete";

// Table handles and column expressions, made once and shared by every operation -------------------------------

template <class T> using Column = sqlite::Expression<T>;
using OptionalText = std::optional<std::string>;

struct Schema {
    sqlite::Table screenshots{"screenshots"};
    sqlite::Table folders{"folders"};
    sqlite::Table foldersScreenshots{"folders_screenshots"};

    Column<std::int64_t> id = Column<std::int64_t>::makeIdentifierExpression("id");
    Column<std::string> folderName = Column<std::string>::makeIdentifierExpression("folder_name");
    Column<std::int64_t> sortOrder = Column<std::int64_t>::makeIdentifierExpression("sort_order");
    Column<bool> isSmartFolder = Column<bool>::makeIdentifierExpression("is_smart_folder");
    Column<OptionalText> keywordsFilter = Column<OptionalText>::makeIdentifierExpression("keywords_filter");
    Column<std::int64_t> folderId = Column<std::int64_t>::makeIdentifierExpression("folder_id");
    Column<std::int64_t> screenshotId = Column<std::int64_t>::makeIdentifierExpression("screenshot_id");
    Column<OptionalText> name = Column<OptionalText>::makeIdentifierExpression("name");
    Column<std::string> path = Column<std::string>::makeIdentifierExpression("path");
    Column<OptionalText> text = Column<OptionalText>::makeIdentifierExpression("text");
    Column<OptionalText> description = Column<OptionalText>::makeIdentifierExpression("description");
    Column<OptionalText> keywords = Column<OptionalText>::makeIdentifierExpression("keywords");
    Column<OptionalText> aiResults = Column<OptionalText>::makeIdentifierExpression("ai_results");
    Column<OptionalText> capturedAppBundleId = Column<OptionalText>::makeIdentifierExpression("captured_app_bundle_id");
    Column<OptionalText> capturedAppName = Column<OptionalText>::makeIdentifierExpression("captured_app_name");
    Column<bool> wasImported = Column<bool>::makeIdentifierExpression("was_imported");
    Column<bool> isAIAssistantTask = Column<bool>::makeIdentifierExpression("is_ai_assistant_task");
    Column<OptionalText> aiAssistantTask = Column<OptionalText>::makeIdentifierExpression("ai_assistant_task");
    Column<OptionalText> aiAssistantResults = Column<OptionalText>::makeIdentifierExpression("ai_assistant_results");
    Column<OptionalText> createdAt = Column<OptionalText>::makeIdentifierExpression("created_at");
    /// What a list row shows of the recognised text, read in its place: only a row without a description
    /// shows it.
    Column<OptionalText> textSnippet{
        "CASE WHEN \"screenshots\".\"description\" IS NULL THEN substr(\"screenshots\".\"text\", 1, " +
        std::to_string(screenshotTextSnippetLength) + ") END"};
};

inline const Schema& schema()
{
    static const Schema instance;
    return instance;
}

/// A column that the schema declares required, read as nullable: rows that the store's own writes never make
/// (a NULL in such a column) are skipped or given a default instead of failing the whole list.
template <class T> Column<std::optional<T>> nullable(const Column<T>& column)
{
    return Column<std::optional<T>>(column);
}

// Values ----------------------------------------------------------------------------------------------------

inline std::string utf8(const QString& value)
{
    return value.toStdString();
}

inline OptionalText utf8(const std::optional<QString>& value)
{
    return value ? OptionalText(value->toStdString()) : std::nullopt;
}

inline std::optional<QString> fromUtf8(const OptionalText& value)
{
    return value ? std::optional<QString>(QString::fromStdString(*value)) : std::nullopt;
}

inline const std::optional<sqlite::Binding>& valueAt(const sqlite::Bindings& values, int index)
{
    static const std::optional<sqlite::Binding> null;
    return index >= 0 && static_cast<std::size_t>(index) < values.size() ? values[static_cast<std::size_t>(index)]
                                                                         : null;
}

inline std::optional<QString> readText(const sqlite::Bindings& values, int index)
{
    const std::optional<sqlite::Binding>& value = valueAt(values, index);
    if (value) {
        if (const auto* stored = std::get_if<std::string>(&*value)) {
            return QString::fromUtf8(stored->data(), static_cast<qsizetype>(stored->size()));
        }
    }
    return std::nullopt;
}

inline std::optional<std::int64_t> readInteger(const sqlite::Bindings& values, int index)
{
    const std::optional<sqlite::Binding>& value = valueAt(values, index);
    if (value) {
        if (const auto* stored = std::get_if<std::int64_t>(&*value)) {
            return *stored;
        }
    }
    return std::nullopt;
}

/// How a failure is logged: the line written, and what the user is told.
struct FailureLog {
    /// Written before the error's description.
    const char* prefix = "";
    /// The line goes to the system log (a load that gives up) instead of standard output (a failed statement).
    bool toSystemLog = false;
    /// For a write that the user expects kept: the sentence (ending in ": ") that says what was not kept; the
    /// user is told it with the error's description.
    const char* notKept = nullptr;
    /// False for a read whose caller logs the failure with its own context (a list load, which may try again
    /// after rebuilding the index and logs once when it gives up).
    bool logged = true;
    /// Damage that the operation meets has the library mended (`ScreenshotsDB::repairAfterDamage`) and the
    /// operation run once more. False for the reads of a load, which rebuild the index first.
    bool mendsDamage = true;
};

/// A failed statement: its description printed as one line.
constexpr FailureLog printed{};

/// A failure that the caller logs.
constexpr FailureLog leftToCaller{.logged = false};

/// A read of a load (`loadAfterRebuildingIndex`), which logs and mends by itself.
constexpr FailureLog loadRead{.logged = false, .mendsDamage = false};

/// Logs that a load of the library's screenshots gave up.
constexpr FailureLog screenshotsNotLoaded{"Error loading screenshots from DB: ", true};

/// The one place where the store logs a failure. The quiet kinds (no connection, nothing found) are not
/// failures of a statement and write nothing.
void logFailure(const StoreError& error, const FailureLog& log);

template <class T> struct ResultOf {
    using Type = StoreResult<T>;
};
template <class T> struct ResultOf<StoreResult<T>> {
    using Type = StoreResult<T>;
};

/// Runs `work` and gives its value (`work` may give a `StoreResult` itself), or what it throws as a
/// `StoreError`, unlogged: the one place where the store catches.
template <class Work> auto attempt(Work&& work) -> typename ResultOf<std::invoke_result_t<Work>>::Type
{
    using Value = std::invoke_result_t<Work>;
    using Result = typename ResultOf<Value>::Type;
    try {
        if constexpr (std::is_void_v<Value>) {
            std::invoke(std::forward<Work>(work));
            return Result();
        } else {
            return std::invoke(std::forward<Work>(work));
        }
    } catch (const StoreError& error) {
        return error;
    } catch (const sqlite::Error& error) {
        return StoreError::caught(error);
    } catch (const std::exception& error) {
        return StoreError::caught(error);
    }
}

/// Whether the calling thread is the application's main thread (the one that runs the window).
inline bool onMainThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

/// Runs `work` on the open connection and gives its value, or the error that kept it from one: no connection
/// (silently), or a failure, logged as `log` says. The gate through which the statements of the store run.
///
/// An operation that finds the library damaged has it mended (`ScreenshotsDB::repairAfterDamage`) and runs once
/// more on the mended library, so that a capture, an edit or a load is not lost to the damage. While a repair
/// runs in the background, the main thread's operations are not tried: the repair holds the connection.
template <class Work>
auto run(ScreenshotsDB& store, const FailureLog& log, Work&& work) ->
    typename ResultOf<std::invoke_result_t<Work, sqlite::Connection&>>::Type
{
    const std::shared_ptr<sqlite::Connection>& db = store.db();
    if (!db) {
        return StoreError::noConnection();
    }
    if (store.repairingInBackground() && onMainThread()) {
        const StoreError busy = StoreError::repairUnderWay();
        logFailure(busy, log);
        return busy;
    }
    const int repairs = store.repairCount();
    auto result = attempt([&]() -> decltype(auto) { return std::invoke(work, *db); });
    if (!result && log.mendsDamage && result.error().kind() == StoreError::Kind::corruption) {
        if (store.repairAfterDamage(result.error().description(), repairs)) {
            result = attempt([&]() -> decltype(auto) { return std::invoke(work, *db); });
        } else if (store.repairingInBackground() && onMainThread()) {
            result = StoreError::repairUnderWay();
        }
    }
    if (!result) {
        logFailure(result.error(), log);
    }
    return result;
}

/// A read that may find nothing: nothing found becomes the error `absent`.
template <class T> StoreResult<T> found(StoreResult<std::optional<T>> result)
{
    if (!result) {
        return result.error();
    }
    if (!*result) {
        return StoreError::absent();
    }
    return std::move(**std::move(result));
}

/// `loadRebuildingIndexOnce`, giving the error that made the load give up.
StoreResult<void> loadAfterRebuildingIndex(ScreenshotsDB& store, const std::function<void()>& load);

/// Reads `ScreenshotRow`s from the rows of the list query. The columns are looked up once, in the query's
/// column-name map, and the texts are read straight from the row's values.
class ScreenshotRowReader {
public:
    /// Throws `sqlite::QueryError` when the query lacks one of the columns. Without `withSnippet` the query
    /// has no start of the recognised text, and the rows have none.
    explicit ScreenshotRowReader(const sqlite::ColumnNames& columns, bool withSnippet = true);
    /// The row's values, or none for a row without id or path (which the store's own writes never make).
    /// The folder id is left for the caller.
    std::optional<ScreenshotRow> read(const sqlite::Row& row) const;

private:
    int id_, name_, createdAt_, description_, keywords_, path_, capturedAppName_, capturedAppBundleId_,
        isAIAssistantTask_, aiAssistantTask_, wasImported_, textSnippet_;
};

/// Every screenshot's list columns, newest first: what `ScreenshotRowReader` reads. Without `withSnippet` the
/// start of the recognised text is left out, which a list of many rows reads only for the rows it shows.
sqlite::Table listColumnsQuery(bool withSnippet = true);

/// One screenshot's row as a list reads it, with its folder (its first link); none for a screenshot that is
/// gone. Throws what SQLite reports.
std::optional<ScreenshotRow> readScreenshotRow(sqlite::Connection& db, qint64 screenshotId);

} // namespace lumetrove::store
