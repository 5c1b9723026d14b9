// Finding damage in a library file and reading out of it what can still be read, for the store's repair
// (ScreenshotsDBRepair.cpp).
#include "lumetrove/library/LibraryRepair.h"

#include "sqlite/Connection.h"
#include "sqlite/Errors.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lumetrove {
namespace {

/// One prepared statement of the raw API, finalised when it goes. `ok` is false when SQLite refused the text
/// (a table or index that is not there, a schema it cannot read).
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &handle_, nullptr); }
    ~Statement() { sqlite3_finalize(handle_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return handle_ != nullptr; }
    sqlite3_stmt* get() const { return handle_; }

private:
    sqlite3_stmt* handle_ = nullptr;
};

bool isDamage(int code)
{
    return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
}

std::string quotedName(const std::string& name)
{
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

// Looking for damage ---------------------------------------------------------------------------------------

/// The order in which tables are checked: the small ones (folders, links, notes, the indexes' settings) first,
/// so that a short budget still covers them; the tables that grow with the library last, largest last.
int checkRank(const std::string& table)
{
    static const std::vector<std::string> large{"screenshots_fts_docsize", "screenshots_words_docsize",
                                                "screenshots_fts_data", "screenshots_words_data", "screenshots"};
    const auto found = std::find(large.begin(), large.end(), table);
    return found == large.end() ? 0 : 1 + static_cast<int>(found - large.begin());
}

struct Deadline {
    std::chrono::steady_clock::time_point at;
    bool passed = false;
};

int stopAtDeadline(void* context)
{
    auto* deadline = static_cast<Deadline*>(context);
    deadline->passed = deadline->passed || std::chrono::steady_clock::now() >= deadline->at;
    return deadline->passed ? 1 : 0;
}

/// Steps `statement` to its end; gives SQLite's last code and, when the statement answers with rows of text
/// (a check), the first answer that is not "ok".
int stepAll(sqlite3_stmt* statement, std::optional<std::string>& problem)
{
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
        if (sqlite3_column_count(statement) > 0 && sqlite3_column_type(statement, 0) == SQLITE_TEXT) {
            const std::string answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            if (answer != "ok" && !problem) {
                problem = answer;
            }
        }
    }
    return code;
}

QString describe(sqlite3* db, int code)
{
    return QStringLiteral("%1 (code: %2)").arg(QString::fromUtf8(sqlite3_errmsg(db))).arg(code & 0xff);
}

/// Stops the checks of `db` at `deadline`: SQLite asks every few hundred virtual-machine steps whether to go
/// on, and past the deadline the check ends with SQLITE_INTERRUPT. A quick check of one table is a single step,
/// which only an interrupt stops: a thread of its own interrupts the connection at the deadline unless the
/// watch ends before.
class DeadlineWatch {
public:
    DeadlineWatch(sqlite3* db, Deadline& deadline) : db_(db)
    {
        sqlite3_progress_handler(db, 200, &stopAtDeadline, &deadline);
        thread_ = std::thread([this, at = deadline.at] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, at, [this] { return ended_; })) {
                sqlite3_interrupt(db_);
            }
        });
    }
    ~DeadlineWatch()
    {
        {
            const std::lock_guard lock(mutex_);
            ended_ = true;
        }
        wake_.notify_one();
        thread_.join();
        sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    }
    DeadlineWatch(const DeadlineWatch&) = delete;
    DeadlineWatch& operator=(const DeadlineWatch&) = delete;

private:
    sqlite3* db_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    std::thread thread_;
};

/// One bounded look for damage, its checks in order: the schema, the small tables, each full-text index
/// opened (which reads its settings, where damage shows as "vtable constructor failed"), the large tables,
/// then the indexes' own checks. Each step answers true to go on with the next.
class DamageLook {
public:
    DamageLook(sqlite3* db, std::chrono::milliseconds budget)
        : db_(db), deadline_{std::chrono::steady_clock::now() + budget}
    {}

    DamageFound run()
    {
        const DeadlineWatch watch(db_, deadline_);
        found_.complete = readTables() && checkTables(false) && openIndexes() && checkTables(true) && checkIndexes();
        return found_;
    }

private:
    struct Table {
        std::string name;
        bool fullText;
    };

    bool timeIsUp(int code) const
    {
        return deadline_.passed || (code & 0xff) == SQLITE_INTERRUPT ||
               std::chrono::steady_clock::now() >= deadline_.at;
    }

    /// Runs one check to its end. Another failure than damage (FTS5 missing, an unknown table) is no damage.
    bool check(const std::string& sql)
    {
        const Statement statement(db_, sql);
        int code = statement.ok() ? SQLITE_OK : sqlite3_errcode(db_);
        std::optional<std::string> problem;
        if (statement.ok()) {
            code = stepAll(statement.get(), problem);
        }
        if (timeIsUp(code)) {
            return false;
        }
        if (problem) {
            found_.damage = QString::fromStdString(*problem);
            return false;
        }
        if (isDamage(code)) {
            found_.damage = describe(db_, code);
            return false;
        }
        ++found_.checksDone;
        return true;
    }

    /// The tables of the schema, the small ones first.
    bool readTables()
    {
        const Statement schema(db_, "SELECT name, sql LIKE 'CREATE VIRTUAL TABLE%' FROM sqlite_master WHERE type = "
                                    "'table' AND sql IS NOT NULL");
        int code = schema.ok() ? SQLITE_ROW : sqlite3_errcode(db_);
        while (schema.ok() && (code = sqlite3_step(schema.get())) == SQLITE_ROW) {
            tables_.push_back(Table{reinterpret_cast<const char*>(sqlite3_column_text(schema.get(), 0)),
                                    sqlite3_column_int(schema.get(), 1) != 0});
        }
        if (isDamage(code)) {
            found_.damage = describe(db_, code);
        }
        if (code != SQLITE_DONE) {
            return false;
        }
        ++found_.checksDone;
        std::stable_sort(tables_.begin(), tables_.end(),
                         [](const Table& a, const Table& b) { return checkRank(a.name) < checkRank(b.name); });
        return true;
    }

    /// SQLite's quick check of each ordinary table, small or `large`, with its indexes.
    bool checkTables(bool large)
    {
        return std::all_of(tables_.begin(), tables_.end(), [&](const Table& table) {
            return table.fullText || (checkRank(table.name) > 0) != large ||
                   check("PRAGMA quick_check(" + quotedName(table.name) + ")");
        });
    }

    bool openIndexes()
    {
        return std::all_of(tables_.begin(), tables_.end(), [&](const Table& table) {
            return !table.fullText || check("SELECT 1 FROM " + quotedName(table.name) + " WHERE rowid = 0");
        });
    }

    /// Each full-text index's own check, which also finds one out of step with its content.
    bool checkIndexes()
    {
        for (const Table& table : tables_) {
            const std::string name = quotedName(table.name);
            if (table.fullText && !check("INSERT INTO " + name + "(" + name + ") VALUES('integrity-check')")) {
                if (found_.damage) {
                    found_.staleIndex = table.name;
                }
                return false;
            }
        }
        return true;
    }

    sqlite3* db_;
    Deadline deadline_;
    DamageFound found_;
    std::vector<Table> tables_;
};

} // namespace

DamageFound findDamage(sqlite::Connection& connection, std::chrono::milliseconds budget)
{
    return connection.sync([&] { return DamageLook(connection.handle(), budget).run(); });
}

// Reading what can be read -----------------------------------------------------------------------------------

namespace {

/// Reads the rows of a query keyed by its first column (an integer), in key order, around the parts that cannot
/// be read. `scan` selects the rows whose key is greater than its one parameter, ordered by key; `lookUp` the
/// row whose key equals it. When a step fails, the scan starts again past the failure, each time twice as far,
/// until it reads again; the keys it jumped over are then looked up one by one, so that only the rows on
/// damaged pages are missed. `take` gets each row read. Gives whether some part could not be read.
bool readAround(sqlite3* db, const std::string& scan, const std::string& lookUp,
                const std::function<void(sqlite3_stmt*)>& take)
{
    Statement scanning(db, scan);
    Statement looking(db, lookUp);
    if (!scanning.ok() || !looking.ok()) {
        return isDamage(sqlite3_errcode(db));
    }
    constexpr std::int64_t maxLookUps = 4'000'000;
    std::int64_t lookUps = 0;
    const auto lookUpBetween = [&](std::int64_t from, std::int64_t to) { // both exclusive
        for (std::int64_t key = from + 1; key < to && lookUps < maxLookUps; ++key, ++lookUps) {
            sqlite3_reset(looking.get());
            sqlite3_bind_int64(looking.get(), 1, key);
            if (sqlite3_step(looking.get()) == SQLITE_ROW) {
                take(looking.get());
            }
        }
    };
    bool damaged = false;
    std::int64_t after = 0; // the store's ids and rowids start at 1
    std::int64_t jump = 1;
    std::optional<std::int64_t> gapFrom;
    for (int failures = 0; failures < 200;) {
        sqlite3_reset(scanning.get());
        sqlite3_bind_int64(scanning.get(), 1, after);
        int code = SQLITE_ROW;
        bool first = true;
        while ((code = sqlite3_step(scanning.get())) == SQLITE_ROW) {
            const std::int64_t key = sqlite3_column_int64(scanning.get(), 0);
            if (first && gapFrom) {
                lookUpBetween(*gapFrom, key);
                gapFrom.reset();
            }
            first = false;
            after = key;
            jump = 1;
            take(scanning.get());
        }
        if (code == SQLITE_DONE) {
            if (gapFrom) {
                lookUpBetween(*gapFrom, after + 1);
            }
            break;
        }
        damaged = true;
        ++failures;
        if (!gapFrom) {
            gapFrom = after;
        }
        if (after > std::numeric_limits<std::int64_t>::max() - jump) {
            break;
        }
        after += jump;
        jump = jump > std::numeric_limits<std::int64_t>::max() / 2 ? jump : jump * 2;
    }
    return damaged;
}

/// The names of the columns of `table` in `db`.
std::vector<std::string> columnsOf(sqlite3* db, const std::string& table)
{
    std::vector<std::string> names;
    Statement statement(db, "SELECT * FROM " + quotedName(table) + " LIMIT 0");
    for (int index = 0; statement.ok() && index < sqlite3_column_count(statement.get()); ++index) {
        names.emplace_back(sqlite3_column_name(statement.get(), index));
    }
    return names;
}

/// Writes rows read from one table into the same table of another library: the columns of the read rows
/// (after the key in column 0) that the target has, each value as it was read.
class RowWriter {
public:
    RowWriter(sqlite3* target, const std::string& table, sqlite3_stmt* source) : target_(target)
    {
        const std::vector<std::string> targetColumns = columnsOf(target, table);
        std::string names;
        std::string values;
        for (int index = 1; index < sqlite3_column_count(source); ++index) {
            const std::string name = sqlite3_column_name(source, index);
            if (std::find(targetColumns.begin(), targetColumns.end(), name) == targetColumns.end()) {
                continue;
            }
            names += (names.empty() ? "" : ", ") + quotedName(name);
            values += values.empty() ? "?" : ", ?";
            columns_.push_back(index);
            if (name == "text") {
                text_ = static_cast<int>(columns_.size());
            }
        }
        insert_ = std::make_unique<Statement>(target, "INSERT OR IGNORE INTO " + quotedName(table) + " (" + names +
                                                          ") VALUES (" + values + ")");
        if (!insert_->ok()) {
            throw sqlite::Result::error(sqlite3_errmsg(target), sqlite3_errcode(target));
        }
    }

    /// True when the row was written (not one already there).
    bool write(sqlite3_stmt* source)
    {
        sqlite3_reset(insert_->get());
        for (std::size_t index = 0; index < columns_.size(); ++index) {
            const int parameter = static_cast<int>(index + 1);
            sqlite3_bind_value(insert_->get(), parameter, sqlite3_column_value(source, columns_[index]));
            // A screenshot's text is required; one that reads as nothing is stored empty.
            if (parameter == text_ && sqlite3_column_type(source, columns_[index]) == SQLITE_NULL) {
                sqlite3_bind_text(insert_->get(), parameter, "", 0, SQLITE_STATIC);
            }
        }
        const int code = sqlite3_step(insert_->get());
        if (code != SQLITE_DONE) {
            throw sqlite::Result::error(sqlite3_errmsg(target_), code);
        }
        return sqlite3_changes(target_) > 0;
    }

private:
    sqlite3* target_;
    std::vector<int> columns_;
    int text_ = 0;
    std::unique_ptr<Statement> insert_;
};

/// Copies every readable row of `table`; `written` sees each row written. Gives whether some could not be read.
bool copyTable(sqlite3* from, sqlite3* to, const std::string& table,
               const std::function<void(sqlite3_stmt*)>& written = nullptr)
{
    std::unique_ptr<RowWriter> writer;
    const std::string select = "SELECT rowid, * FROM " + quotedName(table) + " NOT INDEXED WHERE rowid ";
    return readAround(from, select + "> ? ORDER BY rowid", select + "= ?", [&](sqlite3_stmt* row) {
        if (!writer) {
            writer = std::make_unique<RowWriter>(to, table, row);
        }
        if (writer->write(row) && written) {
            written(row);
        }
    });
}

void execute(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    const int code = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errstr(code);
        sqlite3_free(message);
        throw sqlite::Result::error(text, code);
    }
}

/// The ids that the first column of `sql` gives, as far as they can be read.
QSet<qint64> readIds(sqlite3* db, const char* sql)
{
    QSet<qint64> ids;
    Statement statement(db, sql);
    while (statement.ok() && sqlite3_step(statement.get()) == SQLITE_ROW) {
        ids.insert(sqlite3_column_int64(statement.get(), 0));
    }
    return ids;
}

QString localPathOf(const unsigned char* urlText)
{
    if (urlText == nullptr) {
        return QString();
    }
    const QUrl url(QString::fromUtf8(reinterpret_cast<const char*>(urlText)), QUrl::StrictMode);
    return url.isValid() && url.isLocalFile() ? QFileInfo(url.toLocalFile()).absoluteFilePath() : QString();
}

/// Copies the screenshots' rows that read whole.
void copyWholeRows(sqlite3* damaged, sqlite3* fresh, SalvagedLibrary& salvaged)
{
    copyTable(damaged, fresh, "screenshots",
              [&](sqlite3_stmt* row) { salvaged.ids.insert(sqlite3_column_int64(row, 0)); });
    salvaged.screenshots = static_cast<int>(salvaged.ids.size());
}

/// Copies the list columns of the screenshots whose row could not be read whole from the index that holds
/// them. The text is not in the index: it is stored empty, to be recognised again.
void copyListColumns(sqlite3* damaged, sqlite3* fresh, SalvagedLibrary& salvaged)
{
    const std::string fromIndex =
        "SELECT id, id, name, created_at, description, keywords, path, captured_app_bundle_id, captured_app_name, "
        "is_ai_assistant_task, ai_assistant_task, was_imported, '' AS text FROM screenshots INDEXED BY "
        "screenshots_list WHERE id ";
    std::unique_ptr<RowWriter> writer;
    const Statement awaiting(fresh, "INSERT OR IGNORE INTO pending_text_recognition (screenshot_id) VALUES (?)");
    readAround(damaged, fromIndex + "> ? ORDER BY id", fromIndex + "= ?", [&](sqlite3_stmt* row) {
        const qint64 id = sqlite3_column_int64(row, 0);
        if (salvaged.ids.contains(id)) {
            return;
        }
        if (!writer) {
            writer = std::make_unique<RowWriter>(fresh, "screenshots", row);
        }
        if (writer->write(row)) {
            sqlite3_reset(awaiting.get());
            sqlite3_bind_int64(awaiting.get(), 1, id);
            sqlite3_step(awaiting.get());
            salvaged.ids.insert(id);
            ++salvaged.withoutText;
        }
    });
}

void copyFoldersAndNotes(sqlite3* damaged, sqlite3* fresh, SalvagedLibrary& salvaged)
{
    copyTable(damaged, fresh, "folders");
    salvaged.folders = static_cast<int>(readIds(fresh, "SELECT id FROM folders").size());
    salvaged.linksDamaged = copyTable(damaged, fresh, "folders_screenshots");
    for (const char* notes : {"pending_file_changes", "pending_new_images", "pending_text_recognition"}) {
        copyTable(damaged, fresh, notes);
    }
}

/// Counts what the links, the notes and the indexes say was there, and is not.
void countLost(sqlite3* damaged, sqlite3* fresh, SalvagedLibrary& salvaged)
{
    QSet<qint64> known = readIds(fresh, "SELECT screenshot_id FROM folders_screenshots");
    known.unite(readIds(fresh, "SELECT screenshot_id FROM pending_text_recognition"));
    known.unite(readIds(fresh, "SELECT screenshot_id FROM pending_file_changes"));
    known.unite(readIds(damaged, "SELECT id FROM screenshots INDEXED BY screenshots_created_at"));
    for (const qint64 id : std::as_const(known)) {
        salvaged.unreadable += salvaged.ids.contains(id) ? 0 : 1;
    }
    salvaged.foldersUnreadable =
        static_cast<int>(readIds(fresh, "SELECT DISTINCT folder_id FROM folders_screenshots WHERE folder_id NOT IN "
                                        "(SELECT id FROM folders)")
                             .size());
}

/// Links and notes of rows that are gone point nowhere, and would point at the rows that take their ids next.
void dropDanglingLinks(sqlite3* fresh)
{
    execute(fresh, "DELETE FROM folders_screenshots WHERE screenshot_id NOT IN (SELECT id FROM screenshots) "
                   "OR folder_id NOT IN (SELECT id FROM folders)");
    for (const char* notes : {"pending_text_recognition", "pending_file_changes"}) {
        execute(
            fresh,
            (std::string("DELETE FROM ") + notes + " WHERE screenshot_id NOT IN (SELECT id FROM screenshots)").c_str());
    }
}

void collectListedImages(sqlite3* fresh, SalvagedLibrary& salvaged)
{
    const Statement paths(fresh, "SELECT path FROM screenshots UNION ALL SELECT path FROM pending_new_images");
    while (paths.ok() && sqlite3_step(paths.get()) == SQLITE_ROW) {
        const QString path = localPathOf(sqlite3_column_text(paths.get(), 0));
        if (!path.isEmpty()) {
            salvaged.listedImages.insert(path);
        }
    }
}

} // namespace

SalvagedLibrary salvage(sqlite::Connection& damagedConnection, sqlite::Connection& freshConnection)
{
    return damagedConnection.sync([&] {
        return freshConnection.sync([&] {
            sqlite3* damaged = damagedConnection.handle();
            sqlite3* fresh = freshConnection.handle();
            SalvagedLibrary salvaged;
            execute(fresh, "BEGIN IMMEDIATE");
            try {
                // Whole rows first, then the list columns of the rows that could not be read whole.
                copyWholeRows(damaged, fresh, salvaged);
                copyListColumns(damaged, fresh, salvaged);
                copyFoldersAndNotes(damaged, fresh, salvaged);
                countLost(damaged, fresh, salvaged);
                dropDanglingLinks(fresh);
                collectListedImages(fresh, salvaged);
                execute(fresh, "COMMIT");
            } catch (...) {
                sqlite3_exec(fresh, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            return salvaged;
        });
    });
}

void replaceContent(sqlite::Connection& connection, sqlite::Connection& fromConnection)
{
    connection.sync([&] {
        fromConnection.sync([&] {
            sqlite3* db = connection.handle();
            const auto copy = [&] {
                sqlite3_backup* backup = sqlite3_backup_init(db, "main", fromConnection.handle(), "main");
                if (backup == nullptr) {
                    return sqlite3_errcode(db);
                }
                const int stepped = sqlite3_backup_step(backup, -1);
                const int finished = sqlite3_backup_finish(backup);
                return stepped == SQLITE_DONE ? finished : stepped;
            };
            int code = copy();
            if (isDamage(code)) {
                // The first page itself is damaged, so SQLite cannot take the file over; an empty file it can.
                const char* file = sqlite3_db_filename(db, "main");
                if (file == nullptr || *file == '\0' || ::truncate(file, 0) != 0) {
                    throw sqlite::Result::error(sqlite3_errmsg(db), code);
                }
                code = copy();
            }
            if (code != SQLITE_OK) {
                throw sqlite::Result::error(sqlite3_errmsg(db), code);
            }
        });
    });
}

QString damagedFilePath(const QString& path)
{
    const QString base =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString candidate = base;
    for (int number = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++number) {
        candidate = base + QLatin1Char('-') + QString::number(number);
    }
    return candidate;
}

} // namespace lumetrove
