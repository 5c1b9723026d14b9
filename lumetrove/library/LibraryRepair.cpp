#include "lumetrove/library/LibraryRepair.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "sqlite/Connection.h"
#include "sqlite/Errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
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

} // namespace

DamageFound findDamage(sqlite::Connection& connection, std::chrono::milliseconds budget)
{
    return connection.sync([&] {
        sqlite3* db = connection.handle();
        DamageFound found;
        Deadline deadline{std::chrono::steady_clock::now() + budget};
        // Every few hundred virtual-machine steps SQLite asks whether to go on; past the deadline the check
        // stops with SQLITE_INTERRUPT. A quick check of one table is a single step, which only an interrupt
        // stops: a watch interrupts the connection at the deadline unless the look ended before.
        sqlite3_progress_handler(db, 200, &stopAtDeadline, &deadline);
        std::mutex watchMutex;
        std::condition_variable watchWake;
        bool ended = false;
        std::thread watch([&] {
            std::unique_lock lock(watchMutex);
            if (!watchWake.wait_until(lock, deadline.at, [&] { return ended; })) {
                sqlite3_interrupt(db);
            }
        });
        struct Table {
            std::string name;
            bool fullText;
        };
        std::vector<Table> tables;
        // A check that answers: true to go on with the next.
        const auto check = [&](const std::string& sql) {
            Statement statement(db, sql);
            int code = statement.ok() ? SQLITE_OK : sqlite3_errcode(db);
            std::optional<std::string> problem;
            if (statement.ok()) {
                code = stepAll(statement.get(), problem);
            }
            if (deadline.passed || (code & 0xff) == SQLITE_INTERRUPT ||
                std::chrono::steady_clock::now() >= deadline.at) {
                return false;
            }
            if (problem) {
                found.damage = QString::fromStdString(*problem);
                return false;
            }
            if (isDamage(code)) {
                found.damage = describe(db, code);
                return false;
            }
            ++found.checksDone;
            return true; // another failure (FTS5 missing, an unknown table) is no damage
        };
        const auto run = [&] {
            {
                Statement schema(db, "SELECT name, sql LIKE 'CREATE VIRTUAL TABLE%' FROM sqlite_master WHERE type = "
                                     "'table' AND sql IS NOT NULL");
                int code = schema.ok() ? SQLITE_ROW : sqlite3_errcode(db);
                while (schema.ok() && (code = sqlite3_step(schema.get())) == SQLITE_ROW) {
                    tables.push_back(Table{reinterpret_cast<const char*>(sqlite3_column_text(schema.get(), 0)),
                                           sqlite3_column_int(schema.get(), 1) != 0});
                }
                if (isDamage(code)) {
                    found.damage = describe(db, code);
                    return;
                }
                if (code != SQLITE_DONE) {
                    return;
                }
                ++found.checksDone;
            }
            std::stable_sort(tables.begin(), tables.end(),
                             [](const Table& a, const Table& b) { return checkRank(a.name) < checkRank(b.name); });
            // The small tables, then each full-text index opened (which reads its settings, where damage
            // shows as "vtable constructor failed"), then the large tables, then the indexes' own checks.
            const auto ordinary = [&](bool large) {
                for (const Table& table : tables) {
                    if (!table.fullText && (checkRank(table.name) > 0) == large &&
                        !check("PRAGMA quick_check(" + quotedName(table.name) + ")")) {
                        return false;
                    }
                }
                return true;
            };
            if (!ordinary(false)) {
                return;
            }
            for (const Table& table : tables) {
                if (table.fullText && !check("SELECT 1 FROM " + quotedName(table.name) + " WHERE rowid = 0")) {
                    return;
                }
            }
            if (!ordinary(true)) {
                return;
            }
            for (const Table& table : tables) {
                if (table.fullText && !check("INSERT INTO " + quotedName(table.name) + "(" + quotedName(table.name) +
                                             ") VALUES('integrity-check')")) {
                    if (found.damage) {
                        found.staleIndex = table.name;
                    }
                    return;
                }
            }
            found.complete = true;
        };
        run();
        {
            const std::lock_guard lock(watchMutex);
            ended = true;
        }
        watchWake.notify_one();
        watch.join();
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        return found;
    });
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
                // Whole rows first, then the list columns of the rows that could not be read whole, from the
                // index that holds them.
                copyTable(damaged, fresh, "screenshots",
                          [&](sqlite3_stmt* row) { salvaged.ids.insert(sqlite3_column_int64(row, 0)); });
                salvaged.screenshots = static_cast<int>(salvaged.ids.size());
                constexpr const char* listColumns =
                    "id, name, created_at, description, keywords, path, captured_app_bundle_id, captured_app_name, "
                    "is_ai_assistant_task, ai_assistant_task, was_imported";
                // The text is not in the index: it is stored empty, to be recognised again.
                const std::string fromIndex = std::string("SELECT id, ") + listColumns +
                                              ", '' AS text FROM screenshots INDEXED BY screenshots_list WHERE id ";
                std::unique_ptr<RowWriter> writer;
                Statement awaiting(fresh, "INSERT OR IGNORE INTO pending_text_recognition (screenshot_id) VALUES (?)");
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

                copyTable(damaged, fresh, "folders");
                salvaged.folders = static_cast<int>(readIds(fresh, "SELECT id FROM folders").size());
                salvaged.linksDamaged = copyTable(damaged, fresh, "folders_screenshots");
                for (const char* notes : {"pending_file_changes", "pending_new_images", "pending_text_recognition"}) {
                    copyTable(damaged, fresh, notes);
                }

                // What the links, the notes and the indexes say was there, and is not.
                QSet<qint64> known = readIds(fresh, "SELECT screenshot_id FROM folders_screenshots");
                known.unite(readIds(fresh, "SELECT screenshot_id FROM pending_text_recognition"));
                known.unite(readIds(fresh, "SELECT screenshot_id FROM pending_file_changes"));
                known.unite(readIds(damaged, "SELECT id FROM screenshots INDEXED BY screenshots_created_at"));
                for (const qint64 id : std::as_const(known)) {
                    salvaged.unreadable += salvaged.ids.contains(id) ? 0 : 1;
                }
                salvaged.foldersUnreadable = static_cast<int>(
                    readIds(fresh, "SELECT DISTINCT folder_id FROM folders_screenshots WHERE folder_id NOT IN "
                                   "(SELECT id FROM folders)")
                        .size());
                // Links and notes of rows that are gone point nowhere, and would point at the rows that take
                // their ids next.
                execute(fresh,
                        "DELETE FROM folders_screenshots WHERE screenshot_id NOT IN (SELECT id FROM screenshots) "
                        "OR folder_id NOT IN (SELECT id FROM folders)");
                for (const char* notes : {"pending_text_recognition", "pending_file_changes"}) {
                    execute(fresh, (std::string("DELETE FROM ") + notes +
                                    " WHERE screenshot_id NOT IN (SELECT id FROM screenshots)")
                                       .c_str());
                }
                Statement paths(fresh, "SELECT path FROM screenshots UNION ALL SELECT path FROM pending_new_images");
                while (paths.ok() && sqlite3_step(paths.get()) == SQLITE_ROW) {
                    const QString path = localPathOf(sqlite3_column_text(paths.get(), 0));
                    if (!path.isEmpty()) {
                        salvaged.listedImages.insert(path);
                    }
                }
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

// Mending the store's library ---------------------------------------------------------------------------------

namespace {

/// "1 screenshot" or "3 screenshots".
QString counted(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count == 1 ? one : many));
}

QString quotedFileName(const QString& path)
{
    return QStringLiteral("\u201c%1\u201d").arg(QFileInfo(path).fileName());
}

LibraryOpenProblem repaired(const SalvagedLibrary& salvaged, int given, const QString& kept, bool opening)
{
    const QString textAgain = opening ? QStringLiteral("is being recognised again")
                                      : QStringLiteral("will be recognised again the next time Lumetrove starts");
    QStringList told{QStringLiteral("Part of the library file could not be read. Lumetrove rebuilt the library "
                                    "from what could still be read and from the images in the Screenshots folder.")};
    const int recovered = salvaged.screenshots + salvaged.withoutText;
    QString screenshots = counted(recovered, "screenshot was", "screenshots were") +
                          QStringLiteral(" recovered with their names and details");
    if (salvaged.withoutText > 0) {
        screenshots +=
            QStringLiteral(" (%1 without the recognised text, which %2)")
                .arg(salvaged.withoutText == recovered ? QStringLiteral("all") : QString::number(salvaged.withoutText),
                     textAgain);
    }
    told << screenshots + QLatin1Char('.');
    if (salvaged.unreadable > 0) {
        told << counted(salvaged.unreadable, "screenshot", "screenshots") +
                    QStringLiteral(" could not be read: names, summaries and keywords given to %1 are lost.")
                        .arg(salvaged.unreadable == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    }
    if (given > 0) {
        told << (given == 1 ? QStringLiteral("1 image of the Screenshots folder without a readable entry is listed "
                                             "again under its file name; its text %1.")
                                  .arg(textAgain)
                            : QStringLiteral("%1 images of the Screenshots folder without a readable entry are listed "
                                             "again under their file names; their text %2.")
                                  .arg(given)
                                  .arg(textAgain));
    }
    if (salvaged.folders > 0 || salvaged.foldersUnreadable > 0) {
        QString folders = counted(salvaged.folders, "folder was", "folders were") + QStringLiteral(" recovered");
        if (salvaged.foldersUnreadable > 0) {
            folders += QStringLiteral("; %1 could not be read and %2 lost")
                           .arg(counted(salvaged.foldersUnreadable, "folder", "folders"),
                                salvaged.foldersUnreadable == 1 ? QStringLiteral("is") : QStringLiteral("are"));
        }
        told << folders + QLatin1Char('.');
    }
    if (salvaged.linksDamaged) {
        told << QStringLiteral("Some screenshots may no longer be in their folders.");
    }
    told << QStringLiteral("The damaged file is kept, unchanged, as %1.").arg(quotedFileName(kept));
    return LibraryOpenProblem{QStringLiteral("The library was damaged and has been repaired"),
                              told.join(QLatin1Char(' '))};
}

LibraryOpenProblem notRepaired(const std::optional<QString>& kept)
{
    QString details = QStringLiteral("Part of the library file could not be read, and Lumetrove could not rebuild "
                                     "the library.");
    if (kept) {
        details += QStringLiteral(" The damaged file is kept, unchanged, as %1.").arg(quotedFileName(*kept));
    }
    details += QStringLiteral(" Screenshots that cannot be saved are left out of the library until it is repaired; "
                              "Lumetrove tries again when it next starts.");
    return LibraryOpenProblem{QStringLiteral("The library is damaged and could not be repaired"), details};
}

void removeFile(const QString& path)
{
    for (const char* suffix : {"", "-journal"}) {
        QFile::remove(path + QLatin1String(suffix));
    }
}

} // namespace

bool ScreenshotsDB::repairAfterDamage(const QString& damage, int repairsSeen)
{
    if (!repairsReady_) {
        if (!damageWhileOpening_) {
            damageWhileOpening_ = damage;
        }
        return false;
    }
    if (!repairsInBackground_ || !store::onMainThread()) {
        return mend(damage, repairsSeen);
    }
    // The window goes on while the library is rebuilt; the operation that met the damage is not kept.
    if (repairFailed_.load() || backgroundRepair_.exchange(true)) {
        return false;
    }
    NotificationCenter::defaultCenter().post(libraryRepairingNotification, {{libraryRepairingKey, true}});
    backgroundRepairRun_ = QtConcurrent::run([this, damage, repairsSeen] {
        (void)mend(damage, repairsSeen);
        backgroundRepair_ = false;
        NotificationCenter::defaultCenter().post(libraryRepairingNotification, {{libraryRepairingKey, false}});
    });
    return false;
}

bool ScreenshotsDB::mend(const QString& damage, int repairsSeen)
{
    const std::shared_ptr<sqlite::Connection> db = db_;
    if (!db) {
        return false;
    }
    std::optional<LibraryOpenProblem> told;
    const bool mended = db->sync([&] {
        if (repairs_.load() != repairsSeen) {
            return true; // mended meanwhile, by the operation that met the damage first
        }
        // Inside a transaction the content cannot be replaced; the operation that began it mends the library
        // when the damage reaches it.
        if (repairFailed_.load() || sqlite3_get_autocommit(db->handle()) == 0) {
            return false;
        }
        systemLog(QStringLiteral("The library is damaged: ") + damage);
        told.emplace();
        return repair(false, *told);
    });
    // Told once the connection is let go, so that an observer may use the library at once.
    if (told) {
        reportLibraryProblem(told->title + QStringLiteral(". ") + told->details);
        if (mended) {
            NotificationCenter::defaultCenter().post(libraryRepairedNotification);
        }
    }
    return mended;
}

bool ScreenshotsDB::repair(bool opening, LibraryOpenProblem& told)
{
    const std::shared_ptr<sqlite::Connection> db = db_;
    const char* file = db ? sqlite3_db_filename(db->handle(), "main") : nullptr;
    if (file == nullptr || *file == '\0') {
        told = notRepaired(std::nullopt);
        repairFailed_ = true;
        return false;
    }
    const QString path = QString::fromUtf8(file);
    return db->sync([&] {
        const auto fail = [&](const QString& why, const std::optional<QString>& kept) {
            systemLog(QStringLiteral("Could not repair the library: ") + why);
            told = notRepaired(kept);
            repairFailed_ = true;
            return false;
        };
        // The damaged file is kept as it is before anything is done with it.
        const QString kept = damagedFilePath(path);
        if (!QFile::copy(path, kept)) {
            return fail(QStringLiteral("the damaged file could not be copied to ") + kept, std::nullopt);
        }
        QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
        systemLog(QStringLiteral("The damaged library is kept as ") + kept);

        // A new library beside it, filled with what can be read, then taken over by the open connection, which
        // every holder of the store keeps using.
        const QString rebuilt = path + QStringLiteral(".repairing");
        removeFile(rebuilt);
        int given = 0;
        SalvagedLibrary salvaged;
        try {
            ScreenshotsDB fresh;
            fresh.openDatabase(rebuilt);
            if (!fresh.db_ || !fresh.fileJournal_) {
                removeFile(rebuilt);
                return fail(QStringLiteral("a new library could not be made at ") + rebuilt, kept);
            }
            salvaged = salvage(*db, *fresh.db_);
            given = fresh.giveBackImages(salvaged.listedImages);
            replaceContent(*db, *fresh.db_);
            wordIndex_ = fresh.wordIndex_;
            fileJournal_ = true;
        } catch (const std::exception& error) {
            removeFile(rebuilt);
            return fail(QString::fromUtf8(error.what()), kept);
        }
        removeFile(rebuilt);
        // Thumbnails are named after ids: those of rows that are gone would show for the rows that take their
        // ids next.
        if (const std::optional<QString> thumbnails = thumbnailsDirectory()) {
            for (const QString& name : QDir(*thumbnails).entryList({QStringLiteral("thumbnail-*.png")}, QDir::Files)) {
                bool number = false;
                const qint64 id = name.mid(10, name.size() - 14).toLongLong(&number);
                if (!number || !salvaged.ids.contains(id)) {
                    QFile::remove(*thumbnails + QLatin1Char('/') + name);
                }
            }
        }
        forgetChanges();
        ++repairs_;
        told = repaired(salvaged, given, kept, opening);
        systemLog(QStringLiteral("The library was repaired: %1 screenshots recovered, %2 without text, %3 "
                                 "unreadable, %4 listed again from their images")
                      .arg(salvaged.screenshots + salvaged.withoutText)
                      .arg(salvaged.withoutText)
                      .arg(salvaged.unreadable)
                      .arg(given));
        return true;
    });
}

} // namespace lumetrove
