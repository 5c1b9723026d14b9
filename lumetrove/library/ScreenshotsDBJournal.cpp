// The library store's records of file changes and new images in flight, and how an open finishes them.
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace lumetrove {

using namespace store;

// File changes in flight -------------------------------------------------------------------------------------

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
        (void)run(*this, printed, [&](sqlite::Connection&) {
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
    {
        // While the library is rebuilt the note is kept here and written into the rebuilt library, which lists
        // none of these images from the folder: the capture goes on without waiting for the repair.
        const std::lock_guard lock(inFlightMutex_);
        if (backgroundRepair_.load()) {
            imagesInFlight_.insert(path, NewImageNote{name, wasImported});
            return {};
        }
    }
    if (!fileJournal_) {
        return {}; // as `recordFileChange`
    }
    StoreResult<void> noted = run(*this, leftToCaller, [&](sqlite::Connection& db) {
        db.runStatement("INSERT OR REPLACE INTO pending_new_images (path, name, was_imported) VALUES (?, ?, ?)",
                        utf8(path), utf8(name), std::int64_t(wasImported ? 1 : 0));
    });
    if (noted) {
        const std::lock_guard lock(inFlightMutex_);
        imagesInFlight_.insert(path, NewImageNote{name, wasImported});
    }
    return noted;
}

StoreResult<void> ScreenshotsDB::forgetNewImage(const QString& path)
{
    imageLanded(path);
    if (!fileJournal_) {
        return {};
    }
    return run(*this, printed, [&](sqlite::Connection& db) {
        db.runStatement("DELETE FROM pending_new_images WHERE path = ?", utf8(path));
    });
}

bool ScreenshotsDB::inFlight(const QString& path)
{
    const std::lock_guard lock(inFlightMutex_);
    return imagesInFlight_.contains(path);
}

void ScreenshotsDB::imageLanded(const QString& path)
{
    const std::lock_guard lock(inFlightMutex_);
    imagesInFlight_.remove(path);
}

QSet<QString> ScreenshotsDB::writeNotesInFlight(sqlite::Connection& db)
{
    QSet<QString> paths;
    for (auto image = imagesInFlight_.cbegin(); image != imagesInFlight_.cend(); ++image) {
        db.runStatement("INSERT OR IGNORE INTO pending_new_images (path, name, was_imported) VALUES (?, ?, ?)",
                        utf8(image.key()), utf8(image->name), std::int64_t(image->wasImported ? 1 : 0));
        if (const QString file = localPath(image.key()); !file.isEmpty()) {
            paths.insert(QFileInfo(file).absoluteFilePath());
        }
    }
    return paths;
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
        if (inFlight(image.path.value_or(QString()))) {
            continue; // its capture is still under way, and gives it its row
        }
        const QString file = localPath(image.path);
        if (!file.isEmpty()) {
            QFile::remove(partialFilePath(file));
        }
        (void)run(*this, printed, [&](sqlite::Connection&) {
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
    (void)deleteScreenshot(screenshotId);
}

} // namespace lumetrove
