// The store's repair of a damaged library: what is kept, how the library is rebuilt in place, and what the
// user is told. The steps themselves (looking for damage, reading what can be read) are in LibraryRepair.cpp.
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/LibraryRepair.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "sqlite/Connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>
#include <optional>
#include <sqlite3.h>
#include <thread>

namespace lumetrove {

namespace {

/// Runs `work` holding `db` once no read is under way on it. A statement that another thread steps row by row
/// keeps a read transaction open between its steps, while the connection is free, and SQLite will not copy a
/// library over a connection with a read open: the repair would fail. Such a read ends within the steps its
/// thread takes meanwhile; one that does not end (kept open by the caller itself) is not waited for beyond a few
/// seconds, and the copy then tells why it cannot be made.
template <class Work> auto syncOnceReadsEnd(sqlite::Connection& db, Work&& work) -> std::invoke_result_t<Work&>
{
    using Result = std::invoke_result_t<Work&>;
    if (db.holdsQueue()) {
        return work(); // held up the call chain: no other thread can end its read meanwhile
    }
    const auto latest = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::optional<Result> result = db.sync([&]() -> std::optional<Result> {
            if (sqlite3_txn_state(db.handle(), "main") != SQLITE_TXN_NONE &&
                std::chrono::steady_clock::now() < latest) {
                return std::nullopt;
            }
            return work();
        });
        if (result) {
            return std::move(*result);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

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

/// Copies the damaged file at `path` to `kept`, as it is, before anything is done with it.
bool keepDamagedFile(const QString& path, const QString& kept)
{
    if (!QFile::copy(path, kept)) {
        return false;
    }
    QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
    systemLog(QStringLiteral("The damaged library is kept as ") + kept);
    return true;
}

/// Thumbnails are named after ids: those of rows that are gone would show for the rows that take their ids next.
void removeThumbnailsOfRowsGone(const QSet<qint64>& ids)
{
    const std::optional<QString> thumbnails = thumbnailsDirectory();
    if (!thumbnails) {
        return;
    }
    for (const QString& name : QDir(*thumbnails).entryList({QStringLiteral("thumbnail-*.png")}, QDir::Files)) {
        bool number = false;
        const qint64 id = name.mid(10, name.size() - 14).toLongLong(&number);
        if (!number || !ids.contains(id)) {
            QFile::remove(*thumbnails + QLatin1Char('/') + name);
        }
    }
}

} // namespace

bool ScreenshotsDB::repairAfterDamage(const QString& damage, int repairsSeen)
{
    if (!repairsReady_.load()) {
        const std::lock_guard lock(openingMutex_);
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
    mendInBackground(damage, repairsSeen, false);
    return false;
}

void ScreenshotsDB::mendOnOpening(const QString& damage)
{
    if (!repairsInBackground_) {
        (void)mend(damage, repairs_.load(), true);
        repairsReady_ = true;
        return;
    }
    // The open ends at once: the main thread's operations fail until the repair ends instead of waiting for it,
    // and the other threads' wait for the connection, which the repair holds until the library is ready.
    backgroundRepair_ = true;
    mendInBackground(damage, repairs_.load(), true);
}

void ScreenshotsDB::mendInBackground(const QString& damage, int repairsSeen, bool opening)
{
    NotificationCenter::defaultCenter().post(libraryRepairingNotification, {{libraryRepairingKey, true}});
    backgroundRepairRun_ = QtConcurrent::run([this, damage, repairsSeen, opening, db = db_] {
        const Mending mending = syncOnceReadsEnd(*db, [&] {
            Mending done = rebuildAfterDamage(damage, repairsSeen, opening);
            repairsReady_ = true;
            endBackgroundRepair();
            return done;
        });
        // The main thread's operations were let through before the window is told to read the lists again.
        tellMended(mending, opening);
        NotificationCenter::defaultCenter().post(libraryRepairingNotification, {{libraryRepairingKey, false}});
    });
}

void ScreenshotsDB::endBackgroundRepair()
{
    const std::lock_guard lock(inFlightMutex_);
    if (fileJournal_) {
        const StoreResult<void> noted = store::attempt([&] { (void)writeNotesInFlight(*db_); });
        if (!noted) {
            store::logFailure(noted.error(), store::printed);
        }
    }
    {
        const std::lock_guard ended(repairEndMutex_);
        backgroundRepair_ = false;
    }
    repairEnded_.notify_all();
}

void ScreenshotsDB::waitForBackgroundRepair()
{
    std::unique_lock lock(repairEndMutex_);
    repairEnded_.wait(lock, [this] { return !backgroundRepair_.load(); });
}

bool ScreenshotsDB::mend(const QString& damage, int repairsSeen, bool opening)
{
    const Mending mending = rebuildAfterDamage(damage, repairsSeen, opening);
    tellMended(mending, opening);
    return mending.mended;
}

ScreenshotsDB::Mending ScreenshotsDB::rebuildAfterDamage(const QString& damage, int repairsSeen, bool opening)
{
    const std::shared_ptr<sqlite::Connection> db = db_;
    if (!db) {
        return {};
    }
    return syncOnceReadsEnd(*db, [&] {
        Mending mending;
        if (repairs_.load() != repairsSeen) {
            mending.mended = true; // mended meanwhile, by the operation that met the damage first
            return mending;
        }
        // Inside a transaction the content cannot be replaced; the operation that began it mends the library
        // when the damage reaches it.
        if (repairFailed_.load() || sqlite3_get_autocommit(db->handle()) == 0) {
            return mending;
        }
        systemLog(QStringLiteral("The library is damaged: ") + damage);
        mending.told.emplace();
        mending.mended = repair(opening, *mending.told);
        if (opening) {
            migrate(); // finishes what the notes of an earlier run left
        }
        return mending;
    });
}

void ScreenshotsDB::tellMended(const Mending& mending, bool opening)
{
    // Told once the connection is let go, so that an observer may use the library at once.
    if (!mending.told) {
        return;
    }
    if (opening) {
        setOpenProblem(*mending.told);
    } else {
        reportLibraryProblem(mending.told->title + QStringLiteral(". ") + mending.told->details);
    }
    if (mending.mended) {
        NotificationCenter::defaultCenter().post(libraryRepairedNotification);
    }
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
        const QString kept = damagedFilePath(path);
        if (!keepDamagedFile(path, kept)) {
            return fail(QStringLiteral("the damaged file could not be copied to ") + kept, std::nullopt);
        }
        SalvagedLibrary salvaged;
        int given = 0;
        if (const std::optional<QString> error = rebuildInPlace(path, salvaged, given)) {
            return fail(*error, kept);
        }
        removeThumbnailsOfRowsGone(salvaged.ids);
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

std::optional<QString> ScreenshotsDB::rebuildInPlace(const QString& path, SalvagedLibrary& salvaged, int& given)
{
    // A new library beside the damaged one, filled with what can be read, then taken over by the open
    // connection, which every holder of the store keeps using.
    const QString rebuilt = path + QStringLiteral(".repairing");
    removeFile(rebuilt);
    std::optional<QString> error;
    try {
        ScreenshotsDB fresh;
        fresh.openDatabase(rebuilt);
        if (!fresh.db_ || !fresh.fileJournal_) {
            error = QStringLiteral("a new library could not be made at ") + rebuilt;
        } else {
            salvaged = salvage(*db_, *fresh.db_);
            // An image whose capture is under way gets its row from that capture, once: none is noted between
            // the look at the notes and the look at the folder.
            {
                const std::lock_guard lock(inFlightMutex_);
                QSet<QString> listed = salvaged.listedImages;
                listed.unite(writeNotesInFlight(*fresh.db_));
                given = fresh.giveBackImages(listed);
            }
            replaceContent(*db_, *fresh.db_);
            wordIndex_ = fresh.wordIndex_.load();
            fileJournal_ = true;
        }
    } catch (const std::exception& caught) {
        error = QString::fromUtf8(caught.what());
    }
    removeFile(rebuilt);
    return error;
}

} // namespace lumetrove
