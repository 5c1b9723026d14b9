#include "lumetrove/library/ScreenshotsDB.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/LibraryRepair.h"
#include "lumetrove/platform/Log.h"
#include "sqlite/Connection.h"
#include "sqlite/Errors.h"
#include "sqlite/Operators.h"
#include "sqlite/Query.h"
#include "sqlite/QueryRunning.h"
#include "sqlite/RowIterator.h"
#include "sqlite/Setter.h"
#include "sqlite/Statement.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace lumetrove {
namespace {

/// How long a write waits for another connection's lock on the library file before it fails.
constexpr double kBusyTimeoutSeconds = 5.0;

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

constexpr const char* moveChange = "move";
constexpr const char* deleteChange = "delete";

std::string indexScript()
{
    std::string script = porterIndex.tableStatement();
    for (const Trigger& trigger : porterIndex.triggers()) {
        script += "\n\n";
        script += trigger.sql;
    }
    return script;
}

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

const Schema& schema()
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

std::string utf8(const QString& value)
{
    return value.toStdString();
}

OptionalText utf8(const std::optional<QString>& value)
{
    return value ? OptionalText(value->toStdString()) : std::nullopt;
}

std::optional<QString> fromUtf8(const OptionalText& value)
{
    return value ? std::optional<QString>(QString::fromStdString(*value)) : std::nullopt;
}

const std::optional<sqlite::Binding>& valueAt(const sqlite::Bindings& values, int index)
{
    static const std::optional<sqlite::Binding> null;
    return index >= 0 && static_cast<std::size_t>(index) < values.size() ? values[static_cast<std::size_t>(index)]
                                                                         : null;
}

std::optional<QString> readText(const sqlite::Bindings& values, int index)
{
    const std::optional<sqlite::Binding>& value = valueAt(values, index);
    if (value) {
        if (const auto* stored = std::get_if<std::string>(&*value)) {
            return QString::fromUtf8(stored->data(), static_cast<qsizetype>(stored->size()));
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> readInteger(const sqlite::Bindings& values, int index)
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
void logFailure(const StoreError& error, const FailureLog& log)
{
    if (!log.logged || error.kind() == StoreError::Kind::noConnection || error.kind() == StoreError::Kind::absent) {
        return;
    }
    const QString line = QString::fromUtf8(log.prefix) + error.description();
    if (log.toSystemLog) {
        systemLog(line);
    } else {
        printLine(line);
    }
    if (log.notKept != nullptr) {
        reportLibraryProblem(QString::fromUtf8(log.notKept) + error.plainDescription());
    }
}

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

/// Runs `work` on the open connection and gives its value, or the error that kept it from one: no connection
/// (silently), or a failure, logged as `log` says. The gate through which the statements of the store run.
///
/// An operation that finds the library damaged has it mended (`ScreenshotsDB::repairAfterDamage`) and runs once
/// more on the mended library, so that a capture, an edit or a load is not lost to the damage.
template <class Work>
auto run(ScreenshotsDB& store, const FailureLog& log, Work&& work) ->
    typename ResultOf<std::invoke_result_t<Work, sqlite::Connection&>>::Type
{
    const std::shared_ptr<sqlite::Connection>& db = store.db();
    if (!db) {
        return StoreError::noConnection();
    }
    const int repairs = store.repairCount();
    auto result = attempt([&]() -> decltype(auto) { return std::invoke(work, *db); });
    if (!result && log.mendsDamage && result.error().kind() == StoreError::Kind::corruption &&
        store.repairAfterDamage(result.error().description(), repairs)) {
        result = attempt([&]() -> decltype(auto) { return std::invoke(work, *db); });
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
StoreResult<void> loadAfterRebuildingIndex(ScreenshotsDB& store, const std::function<void()>& load)
{
    bool mayRebuild = true;
    bool mayRepair = true;
    while (true) {
        const int repairs = store.repairCount();
        StoreResult<void> loaded = attempt(load);
        const bool damaged = !loaded && loaded.error().kind() == StoreError::Kind::corruption;
        if (damaged && mayRebuild) {
            mayRebuild = false;
            store.rebuildIndex();
            continue;
        }
        // Not an index alone, or one that cannot be rebuilt: the library is mended, and the load tried again.
        if (damaged && mayRepair) {
            mayRepair = false;
            if (store.repairAfterDamage(loaded.error().description(), repairs)) {
                continue;
            }
        }
        if (!loaded) {
            logFailure(loaded.error(), screenshotsNotLoaded);
        }
        return loaded;
    }
}

} // namespace

bool loadRebuildingIndexOnce(ScreenshotsDB& store, const std::function<void()>& load)
{
    return loadAfterRebuildingIndex(store, load).has_value();
}

// Rows ------------------------------------------------------------------------------------------------------

namespace {

/// Reads `ScreenshotRow`s from the rows of the list query. The columns are looked up once, in the query's
/// column-name map, and the texts are read straight from the row's values.
class ScreenshotRowReader {
public:
    /// Throws `sqlite::QueryError` when the query lacks one of the columns.
    explicit ScreenshotRowReader(const sqlite::ColumnNames& columns);
    /// The row's values, or none for a row without id or path (which the store's own writes never make).
    /// The folder id is left for the caller.
    std::optional<ScreenshotRow> read(const sqlite::Row& row) const;

private:
    int id_, name_, createdAt_, description_, keywords_, path_, capturedAppName_, capturedAppBundleId_,
        isAIAssistantTask_, aiAssistantTask_, wasImported_, textSnippet_;
};

} // namespace

ScreenshotRowReader::ScreenshotRowReader(const sqlite::ColumnNames& columns)
{
    const Schema& s = schema();
    const auto index = [&](const sqlite::Expression<void>& column) { return columns.indexOf(column.template_); };
    id_ = index(s.id);
    name_ = index(s.name);
    createdAt_ = index(s.createdAt);
    description_ = index(s.description);
    keywords_ = index(s.keywords);
    path_ = index(s.path);
    capturedAppName_ = index(s.capturedAppName);
    capturedAppBundleId_ = index(s.capturedAppBundleId);
    isAIAssistantTask_ = index(s.isAIAssistantTask);
    aiAssistantTask_ = index(s.aiAssistantTask);
    wasImported_ = index(s.wasImported);
    textSnippet_ = index(s.textSnippet);
}

std::optional<ScreenshotRow> ScreenshotRowReader::read(const sqlite::Row& values) const
{
    const sqlite::Bindings& v = values.values();
    const std::optional<std::int64_t> id = readInteger(v, id_);
    std::optional<QString> path = readText(v, path_);
    if (!id || !path) {
        return std::nullopt;
    }
    ScreenshotRow row;
    row.id = *id;
    row.path = std::move(*path);
    row.name = readText(v, name_);
    row.createdAt = readText(v, createdAt_);
    row.description = readText(v, description_);
    row.keywords = readText(v, keywords_);
    row.detailsRead = false;
    row.capturedAppName = readText(v, capturedAppName_);
    row.capturedAppBundleId = readText(v, capturedAppBundleId_);
    row.isAIAssistantTask = readInteger(v, isAIAssistantTask_).value_or(0) != 0;
    row.aiAssistantTask = readText(v, aiAssistantTask_);
    row.wasImported = readInteger(v, wasImported_).value_or(0) != 0;
    row.textSnippet = readText(v, textSnippet_);
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
    restrictDataDirectoryToOwner();
    openDatabase(databaseFilePath());
}

namespace {

QString quoted(const QString& text)
{
    return QStringLiteral("\u201c%1\u201d").arg(text);
}

/// Why the entry at `path` cannot serve as the library's file at all (a folder, something that is not a
/// file, a file that cannot be read); none when it can, or when there is nothing there yet.
std::optional<QString> unusableLibraryFile(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return std::nullopt;
    }
    if (S_ISDIR(status.st_mode)) {
        return QStringLiteral("%1 is a folder, not a library file.").arg(quoted(path));
    }
    // A link is followed, as SQLite follows it; what it leads to must be a file that can be read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return QStringLiteral("%1 cannot be read (%2).")
            .arg(quoted(path), QString::fromLocal8Bit(std::strerror(errno)));
    }
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular) {
        return QStringLiteral("%1 is not a regular file.").arg(quoted(path));
    }
    return std::nullopt;
}

quint32 bigEndian(const QByteArray& bytes, int at, int length)
{
    quint32 value = 0;
    for (int i = 0; i < length; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

/// What the header of the database file at `path` shows to be wrong with it: not a database at all, or
/// shorter than the pages it says it holds. None for an empty file (a new library) or a sound header. Read
/// after SQLite opened the file, so that a rollback journal left by a killed write has been played back.
std::optional<QString> damageInHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt; // told by the open itself
    }
    const qint64 size = file.size();
    if (size == 0) {
        return std::nullopt;
    }
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayView("SQLite format 3\0", 16))) {
        return QStringLiteral("it is not a database");
    }
    const quint32 pageSizeField = bigEndian(header, 16, 2);
    const qint64 pageSize = pageSizeField == 1 ? 65536 : pageSizeField;
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    // The page count is only kept by SQLite versions that also write the change counter it is valid for.
    if (validFor == changeCounter && pageCount > 0 && qint64(pageCount) * pageSize > size) {
        return QStringLiteral("it is cut short: %1 of its %2 bytes are there")
            .arg(size)
            .arg(qint64(pageCount) * pageSize);
    }
    return std::nullopt;
}

/// A connection on the library file at `path`, read once: the first read tells a file that is not a database
/// (a corruption), and plays back what a killed write left.
StoreResult<std::shared_ptr<sqlite::Connection>> connect(const QString& path)
{
    return attempt([&] {
        std::shared_ptr<sqlite::Connection> db = sqlite::Connection::openPath(path.toStdString(), false);
        // Another reader of the file (a backup, a sqlite3 shell) holds its lock only briefly; waiting for it
        // keeps a capture's row from failing with "database is locked" and being lost.
        db->setBusyTimeout(kBusyTimeoutSeconds);
        db->scalar("SELECT count(*) FROM sqlite_master");
        return db;
    });
}

/// Makes an empty library file at `path`, readable by its owner only, unless something is there: SQLite would
/// make it as anyone's, and its journal files take its mode.
void createOwnerOnlyFile(const QString& path)
{
    const int created = ::open(QFile::encodeName(path).constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (created >= 0) {
        ::close(created);
    }
}

} // namespace

void ScreenshotsDB::openDatabase(const std::optional<QString>& path)
{
    if (!path) {
        systemLog(QStringLiteral("Failed to get DB path"));
        return;
    }
    // Something in the library's place that is no library file is told and left as it is: setting it aside
    // could hide a library the user keeps there on purpose.
    if (const std::optional<QString> unusable = unusableLibraryFile(*path)) {
        systemLog(QStringLiteral("Cannot open the library: ") + *unusable);
        openProblem_ = LibraryOpenProblem{
            QStringLiteral("The library cannot be opened"),
            *unusable + QStringLiteral(" Lumetrove changed nothing; screenshots cannot be saved until it is moved "
                                       "away or made readable, and Lumetrove is started again.")};
        return;
    }
    createOwnerOnlyFile(*path);
    std::optional<QString> damage;
    if (StoreResult<std::shared_ptr<sqlite::Connection>> connection = connect(*path)) {
        db_ = *std::move(connection);
        damage = damageInHeader(*path);
    } else if (connection.error().kind() == StoreError::Kind::corruption) {
        damage = connection.error().description();
    } else {
        logFailure(connection.error(), printed);
        return;
    }
    if (damage) {
        startAnew(*path, *damage);
        repairsReady_ = true;
        return;
    }
    // A file whose header is sound may still have damaged pages: a list that cannot be read, captures that
    // cannot be saved. Looked for briefly now; an operation that meets damage later has it mended then.
    DamageFound look = findDamage(*db_, openingCheckTime);
    if (!look.staleIndex.empty()) {
        // Only an index is out of step with the screenshots, and can be made again from them.
        systemLog(QStringLiteral("Rebuilding index"));
        run(*this, printed, [&](sqlite::Connection& db) {
            db.executeScript("INSERT INTO " + look.staleIndex + "(" + look.staleIndex + ") VALUES('rebuild');");
        });
        look = findDamage(*db_, openingCheckTime);
    }
    std::optional<QString> found = look.damage;
    for (int pass = 0; pass < 2; ++pass) {
        if (found) {
            systemLog(QStringLiteral("The library is damaged: ") + *found);
            LibraryOpenProblem told;
            repair(true, told);
            openProblem_ = told;
        }
        damageWhileOpening_.reset();
        migrate();
        // Damage that the migration or the notes of an earlier run met, and the look had not reached.
        if (openProblem_ || !damageWhileOpening_) {
            break;
        }
        found = damageWhileOpening_;
    }
    repairsReady_ = true;
}

void ScreenshotsDB::startAnew(const QString& path, const QString& damage)
{
    db_.reset();
    const QString kept = damagedFilePath(path);
    if (const std::optional<QString> error = moveWithoutReplacing(path, kept)) {
        systemLog(QStringLiteral("Cannot set the damaged library aside: ") + *error);
        openProblem_ = LibraryOpenProblem{
            QStringLiteral("The library is damaged"),
            QStringLiteral("%1 is damaged (%2) and could not be set aside (%3). Screenshots cannot be saved until "
                           "it is moved away and Lumetrove is started again.")
                .arg(quoted(path), damage, *error)};
        return;
    }
    // A journal beside the file belongs to it: left behind, SQLite would play it back into the new library.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (entryExists(path + QLatin1String(suffix))) {
            moveWithoutReplacing(path + QLatin1String(suffix), kept + QLatin1String(suffix));
        }
    }
    systemLog(QStringLiteral("The library was damaged (") + damage + QStringLiteral("); it is kept as ") + kept +
              QStringLiteral(" and a new library is started"));
    // Thumbnails are named after the ids of the rows they were drawn for, and the new rows take ids anew.
    if (const std::optional<QString> thumbnails = thumbnailsDirectory()) {
        for (const QString& name : QDir(*thumbnails).entryList({QStringLiteral("thumbnail-*.png")}, QDir::Files)) {
            QFile::remove(*thumbnails + QLatin1Char('/') + name);
        }
    }
    createOwnerOnlyFile(path);
    StoreResult<std::shared_ptr<sqlite::Connection>> connection = connect(path);
    if (!connection) {
        logFailure(connection.error(), printed);
        return;
    }
    db_ = *std::move(connection);
    migrate();
    const int given = giveBackImages();
    openProblem_ = LibraryOpenProblem{
        QStringLiteral("The library was damaged and has been started anew"),
        QStringLiteral("The library file could not be read (%1). It is kept, unchanged, as %2. %3 Names, "
                       "summaries, keywords and folders stayed in the damaged file.")
            .arg(damage, quoted(QFileInfo(kept).fileName()),
                 given == 1 ? QStringLiteral("The 1 screenshot found in the Screenshots folder is listed again; its "
                                             "text is being recognised again.")
                            : QStringLiteral("The %1 screenshots found in the Screenshots folder are listed again; "
                                             "their text is being recognised again.")
                                  .arg(given))};
}

int ScreenshotsDB::giveBackImages(const QSet<QString>& listed)
{
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory || !db_ || !fileJournal_) {
        return 0;
    }
    struct Found {
        QString path;
        QString name;
        QDateTime created;
    };
    std::vector<Found> found;
    for (const QFileInfo& file : QDir(*directory).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        const QString suffix = file.suffix().toLower();
        if (file.isSymLink() || listed.contains(file.absoluteFilePath()) ||
            (suffix != QLatin1String("png") && suffix != QLatin1String("jpg") && suffix != QLatin1String("jpeg"))) {
            continue;
        }
        // The earlier of the two: a file copied back from a backup was born at the copy, but kept its time.
        const QDateTime born = file.birthTime();
        const QDateTime modified = file.lastModified();
        found.push_back(Found{file.absoluteFilePath(), file.completeBaseName(),
                              born.isValid() && born < modified ? born : modified});
    }
    // Oldest first, so that the new ids follow the order in which the screenshots were made.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.created < b.created; });
    const Schema& s = schema();
    const StoreResult<void> stored = run(*this, printed, [&](sqlite::Connection& db) {
        db.transaction([&] {
            for (const Found& image : found) {
                const std::int64_t id = db_->runInsert(s.screenshots.insertValues(
                    sqlite::assignOptionalValue(s.name, utf8(std::optional<QString>(image.name))),
                    sqlite::assignValue(s.path, utf8(QUrl::fromLocalFile(image.path).toString(QUrl::FullyEncoded))),
                    sqlite::assignOptionalValue(s.text, OptionalText(std::string())),
                    sqlite::assignValue(s.wasImported, true),
                    sqlite::assignOptionalValue(s.createdAt, utf8(std::optional<QString>(image.created.toUTC().toString(
                                                                 QStringLiteral("yyyy-MM-dd HH:mm:ss")))))));
                db_->runStatement("INSERT OR REPLACE INTO pending_text_recognition (screenshot_id) VALUES (?)", id);
            }
        });
    });
    return stored ? static_cast<int>(found.size()) : 0;
}

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
    run(*this, printed, [&](sqlite::Connection&) {
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
    run(*this, printed, [&](sqlite::Connection&) {
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

// File changes in flight -------------------------------------------------------------------------------------

StoreResult<void> ScreenshotsDB::recordFileMove(qint64 screenshotId, const QString& source, const QString& target)
{
    return recordFileChange(screenshotId, moveChange, source, target);
}

StoreResult<void> ScreenshotsDB::recordDelete(qint64 screenshotId, const QString& path)
{
    return recordFileChange(screenshotId, deleteChange, path, std::nullopt);
}

StoreResult<void> ScreenshotsDB::recordFileChange(qint64 screenshotId, const char* change, const QString& source,
                                                  const std::optional<QString>& target)
{
    if (!fileJournal_) {
        return {}; // a library that keeps no record (or none at all): nothing that the file change must wait for
    }
    return run(*this, leftToCaller, [&](sqlite::Connection& db) {
        db.runStatement("INSERT OR REPLACE INTO pending_file_changes (screenshot_id, change, source, target) "
                        "VALUES (?, ?, ?, ?)",
                        sqlite::Bindings{std::int64_t(screenshotId), std::string(change), utf8(source),
                                         target ? std::optional<sqlite::Binding>(utf8(*target)) : std::nullopt});
    });
}

namespace {

/// The local path of a stored "file://" URL text; empty when it names no local file.
QString localPath(const std::optional<QString>& urlText)
{
    if (!urlText) {
        return QString();
    }
    const QUrl url(*urlText, QUrl::StrictMode);
    return url.isValid() && url.isLocalFile() ? url.toLocalFile() : QString();
}

bool imageAt(const std::optional<QString>& urlText)
{
    const QString path = localPath(urlText);
    return !path.isEmpty() && entryExists(path);
}

} // namespace

void ScreenshotsDB::finishPendingFileChanges()
{
    struct Pending {
        qint64 id;
        std::optional<QString> change, source, target, path;
    };
    const StoreResult<std::vector<Pending>> pending = run(*this, printed, [](sqlite::Connection& db) {
        std::vector<Pending> read;
        const auto statement = db.prepare(
            "SELECT pending.screenshot_id, pending.change, pending.source, pending.target, screenshots.path "
            "FROM pending_file_changes AS pending LEFT JOIN screenshots ON screenshots.id = pending.screenshot_id");
        while (const std::optional<sqlite::Bindings> row = statement->failableNext()) {
            read.push_back(Pending{readInteger(*row, 0).value_or(0), readText(*row, 1), readText(*row, 2),
                                   readText(*row, 3), readText(*row, 4)});
        }
        return read;
    });
    if (!pending) {
        return;
    }
    const auto forget = [&](qint64 id) {
        db_->runStatement("DELETE FROM pending_file_changes WHERE screenshot_id = ?", std::int64_t(id));
    };
    for (const Pending& change : *pending) {
        run(*this, printed, [&](sqlite::Connection&) {
            if (!change.path) { // the row is gone: the change was finished
                forget(change.id);
            } else if (change.change == QLatin1String(deleteChange)) {
                finishDelete(change.id, *change.path);
            } else {
                // A move: the image is where the row says, where it came from, or where it was going.
                std::optional<QString> found;
                for (const std::optional<QString>& candidate : {change.path, change.source, change.target}) {
                    if (imageAt(candidate)) {
                        found = candidate;
                        break;
                    }
                }
                db_->transaction([&] {
                    if (found && *found != *change.path) {
                        db_->runStatement("UPDATE screenshots SET path = ? WHERE id = ?", utf8(*found),
                                          std::int64_t(change.id));
                    }
                    forget(change.id);
                });
            }
        });
    }
}

StoreResult<void> ScreenshotsDB::recordNewImage(const QString& path, const QString& name, bool wasImported)
{
    if (!fileJournal_) {
        return {}; // as `recordFileChange`
    }
    return run(*this, leftToCaller, [&](sqlite::Connection& db) {
        db.runStatement("INSERT OR REPLACE INTO pending_new_images (path, name, was_imported) VALUES (?, ?, ?)",
                        utf8(path), utf8(name), std::int64_t(wasImported ? 1 : 0));
    });
}

StoreResult<void> ScreenshotsDB::forgetNewImage(const QString& path)
{
    if (!fileJournal_) {
        return {};
    }
    return run(*this, printed, [&](sqlite::Connection& db) {
        db.runStatement("DELETE FROM pending_new_images WHERE path = ?", utf8(path));
    });
}

/// New images whose run ended before their rows were inserted: an image that is there is listed under the
/// name it was to have, its text recognised again later; what a killed write left of one goes.
void ScreenshotsDB::finishPendingNewImages()
{
    struct Pending {
        std::optional<QString> path, name;
        bool wasImported;
        bool listed;
    };
    const StoreResult<std::vector<Pending>> pending = run(*this, printed, [](sqlite::Connection& db) {
        std::vector<Pending> read;
        const auto statement = db.prepare("SELECT pending.path, pending.name, pending.was_imported, "
                                          "EXISTS (SELECT 1 FROM screenshots WHERE screenshots.path = pending.path) "
                                          "FROM pending_new_images AS pending");
        while (const std::optional<sqlite::Bindings> row = statement->failableNext()) {
            read.push_back(Pending{readText(*row, 0), readText(*row, 1), readInteger(*row, 2).value_or(0) != 0,
                                   readInteger(*row, 3).value_or(0) != 0});
        }
        return read;
    });
    if (!pending) {
        return;
    }
    for (const Pending& image : *pending) {
        const QString file = localPath(image.path);
        if (!file.isEmpty()) {
            QFile::remove(partialFilePath(file));
        }
        run(*this, printed, [&](sqlite::Connection&) {
            db_->transaction([&] {
                if (!image.listed && !file.isEmpty() && QFileInfo(file).isFile()) {
                    const std::int64_t id = db_->runInsert(schema().screenshots.insertValues(
                        sqlite::assignOptionalValue(schema().name, utf8(image.name)),
                        sqlite::assignValue(schema().path, utf8(*image.path)),
                        sqlite::assignOptionalValue(schema().text, OptionalText(std::string())),
                        sqlite::assignValue(schema().wasImported, image.wasImported)));
                    db_->runStatement("INSERT OR REPLACE INTO pending_text_recognition (screenshot_id) VALUES (?)", id);
                    systemLog(QStringLiteral("Listed an image whose row was not saved: ") + file);
                }
                db_->runStatement("DELETE FROM pending_new_images WHERE path = ?",
                                  utf8(image.path.value_or(QString())));
            });
        });
    }
}

StoreResult<std::vector<std::pair<qint64, QString>>> ScreenshotsDB::screenshotsAwaitingText()
{
    return run(*this, printed, [&](sqlite::Connection& db) {
        std::vector<std::pair<qint64, QString>> awaiting;
        if (!fileJournal_) {
            return awaiting;
        }
        const auto statement =
            db.prepare("SELECT screenshots.id, screenshots.path FROM pending_text_recognition AS pending "
                       "JOIN screenshots ON screenshots.id = pending.screenshot_id ORDER BY screenshots.id");
        while (const std::optional<sqlite::Bindings> row = statement->failableNext()) {
            awaiting.emplace_back(readInteger(*row, 0).value_or(0), readText(*row, 1).value_or(QString()));
        }
        return awaiting;
    });
}

/// A delete that was cut short: the image goes to the Trash (unless it is there already), the thumbnail
/// goes, and so do the row and its links. An image that cannot be moved to the Trash keeps its row.
void ScreenshotsDB::finishDelete(qint64 screenshotId, const QString& path)
{
    if (imageAt(path)) {
        QFile image(localPath(path));
        if (!image.moveToTrash()) {
            systemLog(QStringLiteral("Failed to move screenshot to trash: ") + image.errorString());
            db_->runStatement("DELETE FROM pending_file_changes WHERE screenshot_id = ?", std::int64_t(screenshotId));
            return;
        }
    }
    if (const std::optional<QString> thumbnail = thumbnailFilePath(screenshotId)) {
        QFile::remove(*thumbnail);
    }
    deleteScreenshot(screenshotId);
}

// Writes ----------------------------------------------------------------------------------------------------

StoreResult<qint64> ScreenshotsDB::insertFolder(const QString& name, bool isSmartFolder,
                                                const std::optional<QString>& keywordsFilter)
{
    const Schema& s = schema();
    const sqlite::Insert insert = s.folders.insertValues(
        sqlite::assignValue(s.folderName, utf8(name)), sqlite::assignValue(s.sortOrder, std::int64_t(0)),
        sqlite::assignValue(s.isSmartFolder, isSmartFolder),
        sqlite::assignOptionalValue(s.keywordsFilter, utf8(keywordsFilter)));
    return run(*this, {.notKept = "The new folder could not be saved: "},
               [&](sqlite::Connection& db) -> qint64 { return db.runInsert(insert); });
}

StoreResult<void> ScreenshotsDB::updateFolder(const Folder& folder)
{
    const Schema& s = schema();
    const sqlite::Update update =
        s.folders.filterQuery(sqlite::equalsValue(s.id, std::int64_t(folder.id)))
            .compileUpdate({sqlite::assignValue(s.folderName, utf8(folder.name)),
                            sqlite::assignValue(s.sortOrder, std::int64_t(folder.sort_order)),
                            sqlite::assignValue(s.isSmartFolder, folder.isSmartFolder),
                            sqlite::assignOptionalValue(s.keywordsFilter, utf8(folder.keywordsFilter))});
    return run(*this, {.notKept = "A change to a folder could not be saved: "},
               [&](sqlite::Connection& db) { db.runUpdate(update); });
}

StoreResult<void> ScreenshotsDB::deleteFolder(qint64 folderId)
{
    const Schema& s = schema();
    const sqlite::Delete links =
        s.foldersScreenshots.filterQuery(sqlite::equalsValue(s.folderId, std::int64_t(folderId))).compileDelete();
    const sqlite::Delete folder =
        s.folders.filterQuery(sqlite::equalsValue(s.id, std::int64_t(folderId))).compileDelete();
    // One transaction: a failure of either delete leaves the folder and all its links in place.
    return run(*this, {.notKept = "The folder could not be deleted: "}, [&](sqlite::Connection& db) {
        db.transaction([&] {
            db.runDelete(links);
            db.runDelete(folder);
        });
    });
}

StoreResult<void> ScreenshotsDB::insertFolderScreenshot(qint64 screenshotId, qint64 folderId)
{
    const Schema& s = schema();
    const sqlite::Insert insert =
        s.foldersScreenshots.insertValues(sqlite::assignValue(s.folderId, std::int64_t(folderId)),
                                          sqlite::assignValue(s.screenshotId, std::int64_t(screenshotId)));
    return run(*this, {.notKept = "The screenshot could not be put in the folder: "},
               [&](sqlite::Connection& db) { db.runInsert(insert); });
}

StoreResult<void> ScreenshotsDB::removeScreenshotFromFolders(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Delete links =
        s.foldersScreenshots.filterQuery(sqlite::equalsValue(s.screenshotId, std::int64_t(screenshotId)))
            .compileDelete();
    return run(*this, {.notKept = "The screenshot could not be taken out of its folder: "},
               [&](sqlite::Connection& db) { db.runDelete(links); });
}

StoreResult<qint64> ScreenshotsDB::insertScreenshot(const NewScreenshot& screenshot)
{
    const Schema& s = schema();
    std::vector<sqlite::Setter> setters{
        sqlite::assignOptionalValue(s.name, utf8(screenshot.name)),
        sqlite::assignValue(s.path, utf8(screenshot.path)),
        sqlite::assignOptionalValue(s.text, utf8(screenshot.text)),
        sqlite::assignOptionalValue(s.capturedAppBundleId, utf8(screenshot.capturedAppBundleId)),
        sqlite::assignOptionalValue(s.capturedAppName, utf8(screenshot.capturedAppName)),
        sqlite::assignValue(s.isAIAssistantTask, screenshot.isAIAssistantTask),
        sqlite::assignOptionalValue(s.aiAssistantTask, utf8(screenshot.aiAssistantTask)),
        sqlite::assignValue(s.wasImported, screenshot.wasImported)};
    if (screenshot.createdAt) { // else SQLite's own time
        setters.push_back(sqlite::assignOptionalValue(s.createdAt, utf8(screenshot.createdAt)));
    }
    const sqlite::Insert insert = s.screenshots.compileInsert(setters);
    // The row lists its image from now on: the note of the image in flight goes with the insert.
    return run(*this, {.notKept = "The screenshot could not be added to the library: "}, [&](sqlite::Connection& db) {
        if (!fileJournal_) {
            return qint64(db.runInsert(insert));
        }
        std::int64_t id = 0;
        // Immediate: a deferred transaction that must wait for another connection's write lock fails at once
        // instead of waiting (SQLite's way out of two readers each waiting to write).
        db.transaction(sqlite::Connection::TransactionMode::immediate, [&] {
            id = db.runInsert(insert);
            db.runStatement("DELETE FROM pending_new_images WHERE path = ?", utf8(screenshot.path));
            if (screenshot.textToCome) {
                db.runStatement("INSERT OR REPLACE INTO pending_text_recognition (screenshot_id) VALUES (?)", id);
            }
        });
        return qint64(id);
    });
}

StoreResult<void> ScreenshotsDB::updateScreenshot(qint64 screenshotId, const ScreenshotEdits& edits)
{
    const Schema& s = schema();
    std::vector<sqlite::Setter> setters{sqlite::assignOptionalValue(s.name, utf8(edits.name)),
                                        sqlite::assignOptionalValue(s.description, utf8(edits.description)),
                                        sqlite::assignOptionalValue(s.keywords, utf8(edits.keywords))};
    if (edits.path) {
        setters.push_back(sqlite::assignValue(s.path, utf8(*edits.path)));
    }
    if (edits.writeAIResults) {
        setters.push_back(sqlite::assignOptionalValue(s.aiResults, utf8(edits.aiResults)));
    }
    setters.push_back(sqlite::assignOptionalValue(s.aiAssistantTask, utf8(edits.aiAssistantTask)));
    if (edits.writeAIAssistantResults) {
        setters.push_back(sqlite::assignOptionalValue(s.aiAssistantResults, utf8(edits.aiAssistantResults)));
    }
    const sqlite::Update update =
        s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId))).compileUpdate(setters);
    constexpr FailureLog notSaved{
        .notKept = "A change to a screenshot could not be saved, so it shows what the library holds: "};
    return run(*this, notSaved, [&](sqlite::Connection& db) {
        if (!edits.path || !fileJournal_) {
            db.runUpdate(update);
            return;
        }
        // The row now names where its image is: a move recorded before is done.
        db.transaction([&] {
            db.runUpdate(update);
            db.runStatement("DELETE FROM pending_file_changes WHERE screenshot_id = ? AND change = ?",
                            std::int64_t(screenshotId), std::string(moveChange));
        });
    });
}

StoreResult<void> ScreenshotsDB::updateScreenshotText(qint64 screenshotId, const QString& text)
{
    const Schema& s = schema();
    const sqlite::Update update =
        s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId)))
            .compileUpdate({sqlite::assignOptionalValue(s.text, utf8(std::optional<QString>(text)))});
    constexpr FailureLog notSaved{
        .notKept = "The text recognised in a screenshot could not be saved, so a search does not find it: "};
    return run(*this, notSaved, [&](sqlite::Connection& db) {
        if (!fileJournal_) {
            db.runUpdate(update);
            return;
        }
        db.transaction(sqlite::Connection::TransactionMode::immediate, [&] {
            db.runUpdate(update);
            db.runStatement("DELETE FROM pending_text_recognition WHERE screenshot_id = ?", std::int64_t(screenshotId));
        });
    });
}

StoreResult<void> ScreenshotsDB::deleteScreenshot(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Delete links =
        s.foldersScreenshots.filterQuery(sqlite::equalsValue(s.screenshotId, std::int64_t(screenshotId)))
            .compileDelete();
    const sqlite::Delete screenshot =
        s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId))).compileDelete();
    // One transaction: the row goes with all its links and the record of its delete, or nothing goes.
    return run(*this, {.notKept = "The screenshot could not be deleted: "}, [&](sqlite::Connection& db) {
        db.transaction([&] {
            db.runDelete(links);
            db.runDelete(screenshot);
            if (fileJournal_) {
                db.runStatement("DELETE FROM pending_file_changes WHERE screenshot_id = ?", std::int64_t(screenshotId));
                db.runStatement("DELETE FROM pending_text_recognition WHERE screenshot_id = ?",
                                std::int64_t(screenshotId));
            }
        });
    });
}

// Reads -----------------------------------------------------------------------------------------------------

namespace {

/// Every screenshot's list columns, newest first: what `ScreenshotRowReader` reads.
sqlite::Table listColumnsQuery()
{
    const Schema& s = schema();
    const auto column = [&](const auto& expression) { return s.screenshots.qualifiedColumn(expression); };
    return s.screenshots.orderQuery(column(s.id).desc())
        .selectColumns(column(s.id), column(s.name), column(s.createdAt), column(s.description), column(s.keywords),
                       column(s.path), column(s.capturedAppBundleId), column(s.capturedAppName),
                       column(s.isAIAssistantTask), column(s.aiAssistantTask), column(s.wasImported), s.textSnippet);
}

/// The first column of every row, as a set: ascending, each once.
std::vector<qint64> readIds(sqlite::Connection& db, const std::string& sql, const sqlite::Bindings& values)
{
    const std::shared_ptr<sqlite::Statement> statement = db.prepare(sql, values);
    std::vector<qint64> ids;
    while (statement->step()) {
        ids.push_back(statement->row().int64At(0));
    }
    // A full-text index gives its rows in id order already; only other queries need sorting.
    if (!std::is_sorted(ids.begin(), ids.end())) {
        std::sort(ids.begin(), ids.end());
    }
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

/// Every screenshot's folder (its first link), in one query.
QHash<qint64, qint64> readFolderIdsOfScreenshots(sqlite::Connection& db)
{
    const Schema& s = schema();
    QHash<qint64, qint64> folders;
    sqlite::RowIterator rows = db.prepareRowIterator(s.foldersScreenshots.selectColumns(s.screenshotId, s.folderId));
    while (const std::optional<sqlite::Row> row = rows.failableNext()) {
        const std::optional<std::int64_t> screenshotId = row->getValue(nullable(s.screenshotId));
        const std::optional<std::int64_t> folderId = row->getValue(nullable(s.folderId));
        if (screenshotId && folderId && !folders.contains(*screenshotId)) {
            folders.insert(*screenshotId, *folderId);
        }
    }
    return folders;
}

} // namespace

StoreResult<void> ScreenshotsDB::queryScreenshots(const std::optional<QString>& searchText,
                                                  const std::optional<Folder>& folder,
                                                  const std::optional<FolderSection>& period,
                                                  const std::function<void(ScreenshotRow&&)>& take)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) {
        sqlite::Table query = listColumnsQuery();
        if (const std::optional<std::vector<qint64>> ids = filteredIds(db, searchText, folder, period)) {
            // The filter's ids as one JSON array: any number of them in one bound value.
            std::string array = "[";
            for (const qint64 id : *ids) {
                if (array.size() > 1) {
                    array += ',';
                }
                array += std::to_string(id);
            }
            array += ']';
            query = std::move(query).filterQuery(
                Column<bool>("\"screenshots\".\"id\" IN (SELECT value FROM json_each(?))", {std::move(array)}));
        }
        // Each row's folder, from one query over the links rather than one query per row.
        const QHash<qint64, qint64> folders = readFolderIdsOfScreenshots(db);
        sqlite::RowIterator rows = db.prepareRowIterator(query);
        const ScreenshotRowReader reader(*rows.sharedColumnNames());
        while (const std::optional<sqlite::Row> values = rows.failableNext()) {
            if (std::optional<ScreenshotRow> row = reader.read(*values)) {
                const auto found = folders.constFind(row->id);
                row->folderId = found == folders.constEnd() ? std::nullopt : std::optional<qint64>(*found);
                take(std::move(*row));
            }
        }
    });
}

StoreResult<QHash<qint64, qint64>> ScreenshotsDB::folderIdsOfScreenshots()
{
    return run(*this, loadRead, [](sqlite::Connection& db) { return readFolderIdsOfScreenshots(db); });
}

StoreResult<std::optional<std::vector<qint64>>>
ScreenshotsDB::filteredScreenshotIds(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                                     const std::optional<FolderSection>& period)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) { return filteredIds(db, searchText, folder, period); });
}

std::optional<std::vector<qint64>> ScreenshotsDB::filteredIds(sqlite::Connection& db,
                                                              const std::optional<QString>& searchText,
                                                              const std::optional<Folder>& folder,
                                                              const std::optional<FolderSection>& period) const
{
    std::optional<std::vector<qint64>> ids;
    const auto restrict = [&](std::vector<qint64> next) {
        if (ids) {
            std::vector<qint64> both;
            std::set_intersection(ids->begin(), ids->end(), next.begin(), next.end(), std::back_inserter(both));
            next = std::move(both);
        }
        ids = std::move(next);
    };
    const std::optional<QString> keywords = folder ? folder->keywordsFilter : std::nullopt;
    // Each index is asked on its own and the answers merged here: the matches come out of FTS5 in id order,
    // which spares SQLite a temporary table of them and a look-up of every matching row.
    constexpr const char* porter = "SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH ?";
    for (const MatchPatterns& condition : ftsSearchConditions(keywords, searchText)) {
        if (!wordIndex_) {
            restrict(readIds(db, porter, {utf8(condition.prefixes.value_or(condition.whole))}));
            continue;
        }
        std::vector<qint64> matching = readIds(db, porter, {utf8(condition.whole)});
        if (condition.prefixes) {
            const std::vector<qint64> starts = readIds(
                db, "SELECT rowid FROM screenshots_words WHERE screenshots_words MATCH ?", {utf8(*condition.prefixes)});
            std::vector<qint64> either;
            either.reserve(matching.size() + starts.size());
            std::set_union(matching.begin(), matching.end(), starts.begin(), starts.end(), std::back_inserter(either));
            matching = std::move(either);
        }
        restrict(std::move(matching));
    }
    if (const std::optional<DateRange> range = dateRangeFilter(period)) {
        restrict(readIds(db, "SELECT id FROM screenshots WHERE created_at >= ? AND created_at <= ?",
                         {utf8(range->lower), utf8(range->upper)}));
    }
    if (folder && !folder->isSmartFolder) {
        restrict(readIds(db, "SELECT screenshot_id FROM folders_screenshots WHERE folder_id = ?",
                         {std::int64_t(folder->id)}));
    }
    if (ids) {
        std::reverse(ids->begin(), ids->end());
    }
    return ids;
}

StoreResult<std::pair<qint64, qint64>> ScreenshotsDB::changeStamp()
{
    return run(*this, printed, [](sqlite::Connection& db) {
        const std::optional<sqlite::Binding> version = db.scalar("PRAGMA data_version");
        return std::pair<qint64, qint64>(db.totalChanges(),
                                         version ? std::get<std::int64_t>(*version) : std::int64_t(0));
    });
}

StoreResult<qint64> ScreenshotsDB::folderIdForScreenshot(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Table query =
        s.foldersScreenshots.filterQuery(sqlite::equalsValue(s.screenshotId, std::int64_t(screenshotId)));
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<qint64> {
        sqlite::RowIterator rows = db.prepareQuery(query);
        const std::optional<sqlite::Row> row = rows.failableNext();
        return row ? row->getValue(nullable(s.folderId)) : std::nullopt;
    }));
}

StoreResult<ScreenshotRow> ScreenshotsDB::screenshotRow(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Table query = listColumnsQuery().filterQuery(
        sqlite::equalsValue(s.screenshots.qualifiedColumn(s.id), std::int64_t(screenshotId)));
    StoreResult<ScreenshotRow> row = found(run(*this, printed, [&](sqlite::Connection& db) {
        const std::optional<sqlite::Row> values = db.pluck(query);
        return values ? ScreenshotRowReader(*values->sharedColumnNames()).read(*values) : std::nullopt;
    }));
    if (row) {
        row->folderId = folderIdForScreenshot(screenshotId);
    }
    return row;
}

StoreResult<ScreenshotDetails> ScreenshotsDB::screenshotDetails(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Table query = s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId)))
                                    .selectColumns(s.text, s.aiResults, s.aiAssistantResults);
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<ScreenshotDetails> {
        const std::optional<sqlite::Row> row = db.pluck(query);
        if (!row) {
            return std::nullopt;
        }
        return ScreenshotDetails{fromUtf8(row->getValue(s.text)), fromUtf8(row->getValue(s.aiResults)),
                                 fromUtf8(row->getValue(s.aiAssistantResults))};
    }));
}

StoreResult<qint64> ScreenshotsDB::countScreenshotsInFolder(const std::optional<Folder>& folder)
{
    if (!folder) {
        return StoreError::absent();
    }
    if (folder->isSmartFolder) {
        const std::optional<QString> pattern = ftsSearchQuery(folder->keywordsFilter, std::nullopt);
        if (!pattern || pattern->isEmpty()) {
            return StoreError::absent();
        }
    }
    if (!db_) {
        return StoreError::noConnection();
    }
    // Counted from the indexes' answers alone, without a look-up of each matching row. The count is read as a
    // list is loaded: a corrupt index is rebuilt once.
    std::optional<std::vector<qint64>> ids;
    const StoreResult<void> counted =
        loadAfterRebuildingIndex(*this, [&] { ids = filteredIds(*db_, std::nullopt, folder, std::nullopt); });
    if (!counted) {
        return counted.error();
    }
    return ids ? StoreResult<qint64>(static_cast<qint64>(ids->size())) : StoreError::absent();
}

StoreResult<qint64> ScreenshotsDB::countScreenshotsInPeriod(const FolderSection& section)
{
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<qint64> {
        const std::optional<std::vector<qint64>> ids = filteredIds(db, std::nullopt, std::nullopt, section);
        return ids ? std::optional<qint64>(static_cast<qint64>(ids->size())) : std::nullopt;
    }));
}

StoreResult<qint64> ScreenshotsDB::countScreenshots()
{
    return run(*this, printed,
               [](sqlite::Connection& db) -> qint64 { return db.queryScalar(schema().screenshots.count()); });
}

StoreResult<std::vector<Folder>> ScreenshotsDB::queryFolders()
{
    const Schema& s = schema();
    return run(*this, leftToCaller, [&](sqlite::Connection& db) {
        std::vector<Folder> folders;
        sqlite::RowIterator rows = db.prepareQuery(s.folders.orderQuery(s.sortOrder.asc()));
        while (const std::optional<sqlite::Row> row = rows.failableNext()) {
            const std::optional<std::int64_t> id = row->getValue(nullable(s.id));
            if (!id) {
                continue; // the store's own writes never leave a folder without id
            }
            folders.push_back(Folder{*id, row->getValue(nullable(s.sortOrder)).value_or(0),
                                     fromUtf8(row->getValue(nullable(s.folderName))).value_or(QString()),
                                     row->getValue(nullable(s.isSmartFolder)).value_or(false),
                                     fromUtf8(row->getValue(s.keywordsFilter))});
        }
        return folders;
    });
}

StoreResult<void> ScreenshotsDB::rebuildIndex()
{
    systemLog(QStringLiteral("Rebuilding index"));
    return run(*this, printed, [&](sqlite::Connection& db) {
        db.executeScript(porterIndex.rebuildStatement());
        if (wordIndex_) {
            db.executeScript(wordIndex.rebuildStatement());
        }
    });
}

} // namespace lumetrove
