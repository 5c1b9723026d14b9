// The library store's writes: each one transaction, told to the user when it fails.
#include "lumetrove/library/ScreenshotsDBParts.h"

#include <mutex>

namespace lumetrove {

using namespace store;

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

namespace {

/// The insert of one new screenshot row.
sqlite::Insert screenshotInsert(const NewScreenshot& screenshot)
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
    return s.screenshots.compileInsert(setters);
}

/// Inserts the row inside the caller's transaction, with what goes with it: the note of its image in flight
/// is cleared (the row lists the image from now on) and, for a text still to come, the row is noted.
std::int64_t insertScreenshotRow(sqlite::Connection& db, const NewScreenshot& screenshot, bool fileJournal)
{
    const std::int64_t id = db.runInsert(screenshotInsert(screenshot));
    if (fileJournal) {
        db.runStatement("DELETE FROM pending_new_images WHERE path = ?", utf8(screenshot.path));
        if (screenshot.textToCome) {
            db.runStatement("INSERT OR REPLACE INTO pending_text_recognition (screenshot_id) VALUES (?)", id);
        }
    }
    return id;
}

constexpr FailureLog screenshotNotAdded{.notKept = "The screenshot could not be added to the library: "};

} // namespace

StoreResult<qint64> ScreenshotsDB::insertScreenshot(const NewScreenshot& screenshot)
{
    StoreResult<qint64> inserted = run(*this, screenshotNotAdded, [&](sqlite::Connection& db) {
        if (!fileJournal_) {
            return qint64(db.runInsert(screenshotInsert(screenshot)));
        }
        std::int64_t id = 0;
        // Immediate: a deferred transaction that must wait for another connection's write lock fails at once
        // instead of waiting (SQLite's way out of two readers each waiting to write).
        db.transaction(sqlite::Connection::TransactionMode::immediate,
                       [&] { id = insertScreenshotRow(db, screenshot, fileJournal_); });
        return qint64(id);
    });
    if (inserted) {
        imageLanded(screenshot.path);
    }
    return inserted;
}

std::vector<StoreResult<qint64>> ScreenshotsDB::insertScreenshots(const std::vector<NewScreenshot>& screenshots,
                                                                  std::optional<qint64> folderId)
{
    const Schema& s = schema();
    // One commit for them all: on a disk that syncs each commit, that is most of what an insert costs. Only the
    // line is printed for a batch that fails: each row is then tried alone, and told alone when it fails.
    const StoreResult<std::vector<qint64>> batch = run(*this, printed, [&](sqlite::Connection& db) {
        std::vector<qint64> ids;
        db.transaction(sqlite::Connection::TransactionMode::immediate, [&] {
            ids.clear(); // a try after a repair starts again
            for (const NewScreenshot& screenshot : screenshots) {
                const std::int64_t id = insertScreenshotRow(db, screenshot, fileJournal_);
                if (folderId) {
                    db.runInsert(
                        s.foldersScreenshots.insertValues(sqlite::assignValue(s.folderId, std::int64_t(*folderId)),
                                                          sqlite::assignValue(s.screenshotId, id)));
                }
                ids.push_back(id);
            }
        });
        return ids;
    });
    std::vector<StoreResult<qint64>> results;
    if (batch) {
        for (const NewScreenshot& screenshot : screenshots) {
            imageLanded(screenshot.path);
        }
        results.assign(batch->begin(), batch->end());
        return results;
    }
    if (batch.error().kind() == StoreError::Kind::noConnection) {
        results.assign(screenshots.size(), batch.error());
        return results;
    }
    for (const NewScreenshot& screenshot : screenshots) {
        StoreResult<qint64> id = insertScreenshot(screenshot);
        if (id && folderId) {
            (void)insertFolderScreenshot(*id, *folderId);
        }
        results.push_back(std::move(id));
    }
    return results;
}

namespace {

/// The setters of an edit's columns, in the order of the table.
std::vector<sqlite::Setter> editSetters(const ScreenshotEdits& edits)
{
    const Schema& s = schema();
    std::vector<sqlite::Setter> setters;
    if (edits.writeTexts) {
        setters.push_back(sqlite::assignOptionalValue(s.name, utf8(edits.name)));
        setters.push_back(sqlite::assignOptionalValue(s.description, utf8(edits.description)));
        setters.push_back(sqlite::assignOptionalValue(s.keywords, utf8(edits.keywords)));
    }
    if (edits.path) {
        setters.push_back(sqlite::assignValue(s.path, utf8(*edits.path)));
    }
    if (edits.writeTexts && edits.writeAIResults) {
        setters.push_back(sqlite::assignOptionalValue(s.aiResults, utf8(edits.aiResults)));
    }
    if (edits.writeTexts) {
        setters.push_back(sqlite::assignOptionalValue(s.aiAssistantTask, utf8(edits.aiAssistantTask)));
    }
    if (edits.writeTexts && edits.writeAIAssistantResults) {
        setters.push_back(sqlite::assignOptionalValue(s.aiAssistantResults, utf8(edits.aiAssistantResults)));
    }
    return setters;
}

} // namespace

StoreResult<ScreenshotRow> ScreenshotsDB::updateScreenshot(qint64 screenshotId, const ScreenshotEdits& edits)
{
    const Schema& s = schema();
    const std::vector<sqlite::Setter> setters = editSetters(edits);
    const sqlite::Table target = s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId)));
    std::vector<qint64> moved;
    {
        const std::lock_guard lock(movedMutex_);
        moved.swap(moved_);
    }
    constexpr FailureLog notSaved{
        .notKept = "A change to a screenshot could not be saved, so it shows what the library holds: "};
    // Immediate, as an insert: the edit waits for another connection's write lock rather than failing.
    StoreResult<ScreenshotRow> row = found(run(*this, notSaved, [&](sqlite::Connection& db) {
        std::optional<ScreenshotRow> edited;
        db.transaction(sqlite::Connection::TransactionMode::immediate, [&] {
            if (fileJournal_) {
                for (const qint64 id : moved) {
                    db.runStatement("DELETE FROM pending_file_changes WHERE screenshot_id = ? AND change = ?",
                                    std::int64_t(id), std::string(moveChange));
                }
            }
            const std::optional<sqlite::Binding> stored =
                db.scalar("SELECT path FROM screenshots WHERE id = ?", std::int64_t(screenshotId));
            if (!stored) {
                return; // gone: nothing to edit
            }
            const auto* storedText = std::get_if<std::string>(&*stored);
            const QString storedPath = storedText ? QString::fromStdString(*storedText) : QString();
            if (fileJournal_ && edits.path && *edits.path != storedPath) {
                db.runStatement("INSERT OR REPLACE INTO pending_file_changes (screenshot_id, change, source, target) "
                                "VALUES (?, ?, ?, ?)",
                                std::int64_t(screenshotId), std::string(moveChange), utf8(storedPath),
                                utf8(*edits.path));
            }
            if (!setters.empty()) {
                db.runUpdate(target.compileUpdate(setters));
            }
            if (edits.folder) {
                db.runStatement("DELETE FROM folders_screenshots WHERE screenshot_id = ?", std::int64_t(screenshotId));
                if (*edits.folder) {
                    db.runInsert(s.foldersScreenshots.insertValues(
                        sqlite::assignValue(s.folderId, std::int64_t(**edits.folder)),
                        sqlite::assignValue(s.screenshotId, std::int64_t(screenshotId))));
                }
            }
            edited = readScreenshotRow(db, screenshotId);
        });
        return edited;
    }));
    if (!row && !moved.empty()) {
        const std::lock_guard lock(movedMutex_);
        moved_.insert(moved_.end(), moved.begin(), moved.end()); // for the next write to try again
    }
    return row;
}

void ScreenshotsDB::noteFileMoved(qint64 screenshotId)
{
    const std::lock_guard lock(movedMutex_);
    moved_.push_back(screenshotId);
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

std::vector<bool> ScreenshotsDB::updateScreenshotTexts(const std::vector<std::pair<qint64, QString>>& texts)
{
    const Schema& s = schema();
    const StoreResult<void> batch = run(*this, printed, [&](sqlite::Connection& db) {
        db.transaction(sqlite::Connection::TransactionMode::immediate, [&] {
            for (const auto& [id, text] : texts) {
                db.runUpdate(s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(id)))
                                 .compileUpdate({sqlite::assignOptionalValue(s.text, utf8(std::optional(text)))}));
                if (fileJournal_) {
                    db.runStatement("DELETE FROM pending_text_recognition WHERE screenshot_id = ?", std::int64_t(id));
                }
            }
        });
    });
    if (batch || batch.error().kind() == StoreError::Kind::noConnection) {
        return std::vector<bool>(texts.size(), bool(batch));
    }
    // Each alone, told alone when it fails.
    std::vector<bool> kept;
    for (const auto& [id, text] : texts) {
        kept.push_back(bool(updateScreenshotText(id, text)));
    }
    return kept;
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

} // namespace lumetrove
