#pragma once

#include "lumetrove/library/Folder.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/library/ScreenshotRow.h"
#include "lumetrove/library/StoreResult.h"

#include <QFuture>
#include <QHash>
#include <QSet>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sqlite {
class Connection;
} // namespace sqlite

namespace lumetrove {

/// What changed in the library since a reader last asked (`ScreenshotsDB::changesSince`).
struct LibraryChanges {
    /// Anything may have changed (the first look, a write of another connection, too many changes to
    /// remember one by one): read everything again.
    bool everything = true;
    /// The screenshots whose rows were inserted, changed or deleted.
    std::vector<qint64> screenshots;
    /// A folder link was added or removed.
    bool links = false;
};

/// Where a reader of `ScreenshotsDB::changesSince` stands.
struct LibraryChangeCursor {
    const void* connection = nullptr;
    quint64 generation = 0;
    qint64 dataVersion = 0;
};

struct SalvagedLibrary;

/// What the user must be told about the library's file after it was opened.
struct LibraryOpenProblem {
    /// What happened, in one line.
    QString title;
    /// What it means and what was done about it.
    QString details;

    friend bool operator==(const LibraryOpenProblem&, const LibraryOpenProblem&) = default;
};

/// The screenshot library's database: one SQLite file with the tables `screenshots`, `folders`,
/// `folders_screenshots` and the full-text index `screenshots_fts`. The only code that runs the
/// application's SQL. Operations may be called from any thread; the connection serialises statements.
///
/// One policy for failures. No operation throws: each gives a `StoreResult`, its value or the `StoreError`
/// that kept it from one, whose kind tells a caller what it may do (nothing without a connection, nothing
/// found, a corrupt index that a rebuild may mend, any other failure). The store logs each failure once, in
/// one place, before the caller sees it: a failed statement prints the error's description on standard output,
/// and a failed write (not the record of a file change, whose caller tells the user in its own words) is told
/// to the user too, through `reportLibraryProblem`, with what was not kept. Two kinds of operation leave both
/// to their caller, which has the context: the reads of a load (`queryScreenshots`, `filteredScreenshotIds`,
/// `queryFolders`), whose caller may try again after an index rebuild and logs once when it gives up
/// (`loadRebuildingIndexOnce`), and the records of file changes. Without an open connection every operation
/// is a silent no-op.
class ScreenshotsDB : public NewImageJournal {
public:
    /// A store with no connection; `openDatabase` opens one.
    ScreenshotsDB();
    ~ScreenshotsDB() override;
    ScreenshotsDB(const ScreenshotsDB&) = delete;
    ScreenshotsDB& operator=(const ScreenshotsDB&) = delete;

    /// The process-wide store over the library's file, opened and migrated on first use (from any thread;
    /// concurrent first uses wait for one construction).
    static const std::shared_ptr<ScreenshotsDB>& shared();

    /// Opens the library's file (`databaseFilePath`) and brings its schema to the current version.
    void openDatabase();
    /// Opens the file at `path` (none: the data directory could not be found) and migrates it.
    ///
    /// A file that is not a database, or one cut short, is kept untouched beside the library under its name
    /// with ".damaged-" and the date and time appended, and a new library takes its place: it lists every image
    /// still in the screenshots directory (under its file name, created when the file was, its text to be
    /// recognised again), and `openProblem` tells the user. A folder or an unreadable file in the library's
    /// place is only told: it stays as it is, and the store has no connection.
    void openDatabase(const std::optional<QString>& path);

    /// How long opening looks for damage in a library whose file reads as a database (`findDamage`); what the
    /// look does not reach, the operations that read it find.
    static constexpr std::chrono::milliseconds openingCheckTime{60};

    /// What opening found wrong with the library's file, for the user; none when all was well, and while a
    /// repair of damage found on opening runs in the background (it is known once `libraryRepairingNotification`
    /// says the repair ended). Any thread.
    std::optional<LibraryOpenProblem> openProblem() const;

    /// The open connection, or null.
    const std::shared_ptr<sqlite::Connection>& db() const { return db_; }

    /// Gives the connection's page cache back (a few megabytes); the statements after it read the file again.
    /// Waits for the connection: not on the main thread.
    void releaseCaches();

    /// Mends the library after an operation found it damaged (`damage`, SQLite's description): keeps the
    /// damaged file beside it, rebuilds the library in place from what can still be read and from the images of
    /// the screenshots directory, and tells the user what was kept and what was lost. True when the operation
    /// may be tried once more: the library was rebuilt, by this call or by another since the operation noted
    /// `repairCount`. False inside a transaction (the outermost operation mends it) and after a repair failed.
    /// While the library is being opened the damage is only noted, and mended when the open ends.
    bool repairAfterDamage(const QString& damage, int repairsSeen);
    /// How many times the library was rebuilt since it was opened.
    int repairCount() const { return repairs_.load(); }
    /// Whether damage that an operation of the main thread meets is mended on a thread of the store's own, so
    /// that the window is not held up for as long as a large library takes to rebuild. The operation then
    /// fails at once (`StoreError::repairUnderWay`, told to the user for a write), as does every operation of
    /// the main thread until the repair ends, which `libraryRepairingNotification` tells. Off by default: the
    /// thread that meets the damage mends it and the operation is tried again. Set before the library is opened,
    /// damage found on opening is mended that way too: the open ends at once, and the repair runs meanwhile.
    void setRepairsInBackground(bool inBackground) { repairsInBackground_ = inBackground; }
    /// A repair runs on the store's own thread; the main thread's operations are not tried meanwhile.
    bool repairingInBackground() const { return backgroundRepair_.load(); }
    /// Off the main thread: waits until the repair running in the background has ended (at once when none
    /// runs), so that an operation the damage refused can be tried again on the rebuilt library.
    void waitForBackgroundRepair();

    // Writes ---------------------------------------------------------------------------------------------
    // A failed write is told to the user by the store; its result tells the caller whether it was kept.

    /// The new folder's id.
    StoreResult<qint64> insertFolder(const QString& name, bool isSmartFolder,
                                     const std::optional<QString>& keywordsFilter);
    StoreResult<void> updateFolder(const Folder& folder);
    /// Removes the folder's links, then the folder; the linked screenshots stay.
    StoreResult<void> deleteFolder(qint64 folderId);
    StoreResult<void> insertFolderScreenshot(qint64 screenshotId, qint64 folderId);
    /// Inserts the row and gives its id; the record of its new image (`recordNewImage` with the same path) goes
    /// with it, in one transaction.
    StoreResult<qint64> insertScreenshot(const NewScreenshot& screenshot);
    /// Inserts the rows, each linked to `folderId` when one is given, in one transaction, and gives each row's
    /// id in order, or what kept it out. When the batch fails as a whole, each row is tried on its own (as
    /// `insertScreenshot`, told to the user when it fails), so that one bad row keeps no other out.
    std::vector<StoreResult<qint64>> insertScreenshots(const std::vector<NewScreenshot>& screenshots,
                                                       std::optional<qint64> folderId);
    /// Applies the edit in one transaction and gives the row as it now stands (as `screenshotRow` reads it);
    /// a failure anywhere leaves the row and its links as they were. A new path records the image's move from
    /// the stored one in the same transaction: the caller moves the file once the edit is kept and then calls
    /// `noteFileMoved`, and a run that ends in between has the row pointed at the image on the next open.
    /// `absent` for a screenshot that is gone.
    StoreResult<ScreenshotRow> updateScreenshot(qint64 screenshotId, const ScreenshotEdits& edits);
    /// The image of the screenshot is where its last edit put it: the record of the move goes with the next
    /// write (or the next open), rather than costing a transaction of its own.
    void noteFileMoved(qint64 screenshotId);
    /// Writes the text recognised after the row was inserted (the triggers index it); the row is no longer
    /// awaiting text.
    StoreResult<void> updateScreenshotText(qint64 screenshotId, const QString& text);
    /// Writes recognised texts as `updateScreenshotText` does, in one transaction; when that fails, each on its
    /// own. Whether each was kept, in order.
    std::vector<bool> updateScreenshotTexts(const std::vector<std::pair<qint64, QString>>& texts);
    /// Removes the screenshot's links, then its row (and, through the triggers, its index entry).
    StoreResult<void> deleteScreenshot(qint64 screenshotId);

    // Reads ----------------------------------------------------------------------------------------------

    /// Hands `take` the screenshots for a search text, a folder (plain: its links; smart: its keywords) and a
    /// time period, newest first (the screenshots of `filteredScreenshotIds`), each with its folder: the columns
    /// that a list shows, without the long texts of `screenshotDetails` and without the start of the recognised
    /// text, which a list reads for the rows it shows (`screenshotTextSnippets`). A failure (a search pattern FTS5
    /// refuses, a corrupt index) may come after some rows; it is left to the caller to log.
    StoreResult<void> queryScreenshots(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                                       const std::optional<FolderSection>& period,
                                       const std::function<void(ScreenshotRow&&)>& take);
    /// Hands `take` every screenshot's row as `queryScreenshots` does without filters, newest first, in one
    /// read; once the first `firstRows` rows have been handed over, `firstRowsRead` is called (not at all when
    /// there are fewer), so that they can be shown while the rest is read.
    StoreResult<void> readScreenshotRows(const std::function<void(ScreenshotRow&&)>& take, qsizetype firstRows,
                                         const std::function<void()>& firstRowsRead);
    /// The ids of the screenshots that match these filters, newest first, read from the indexes alone (the
    /// full-text indexes, the folder links, the creation times); none when no filter restricts the list. The
    /// one place where the filters are applied: the list, its rows and the counts all ask it. A failure is left
    /// to the caller to log.
    ///
    /// The indexes are asked for their newest matches first and read as far as the answer needs: once the first
    /// `firstIds` ids are known, `firstIdsFound` is handed them (not at all when there are fewer), while the
    /// rest is found.
    StoreResult<std::optional<std::vector<qint64>>>
    filteredScreenshotIds(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                          const std::optional<FolderSection>& period, qsizetype firstIds = 0,
                          const std::function<void(const std::vector<qint64>&)>& firstIdsFound = {});
    /// Every screenshot's folder (its first link), in one query. A failure is left to the caller to log.
    StoreResult<QHash<qint64, qint64>> folderIdsOfScreenshots();
    /// A value that differs whenever the library's rows or links may have changed since it was last read:
    /// by any statement of this store's connection or by a commit of another connection.
    StoreResult<std::pair<qint64, qint64>> changeStamp();
    /// The changes to `screenshots` and `folders_screenshots` since `cursor` (none: the first look, which is
    /// everything), and the cursor moved to now. Called before the rows are read, so that a change made while
    /// they are read is told again next time. Any thread.
    LibraryChanges changesSince(std::optional<LibraryChangeCursor>& cursor);
    /// One screenshot's row as `queryScreenshots` reads it, with its folder; `absent` for a screenshot that is
    /// gone.
    StoreResult<ScreenshotRow> screenshotRow(qint64 screenshotId);
    /// The start of the recognised text that a row shows (`ScreenshotRow::textSnippet`) of each of these
    /// screenshots that is there: the empty text for one with a description or no text.
    StoreResult<QHash<qint64, QString>> screenshotTextSnippets(const std::vector<qint64>& ids);
    /// The long texts of one screenshot that a list load leaves out; `absent` for a screenshot that is gone.
    StoreResult<ScreenshotDetails> screenshotDetails(qint64 screenshotId);
    /// The folder of the first link of the screenshot; `absent` when it has none.
    StoreResult<qint64> folderIdForScreenshot(qint64 screenshotId);
    /// Number of screenshots of a plain folder (its links) or a smart folder (its keyword matches); `absent`
    /// for no folder or a smart folder without keywords. A corrupt index is rebuilt once.
    StoreResult<qint64> countScreenshotsInFolder(const std::optional<Folder>& folder);
    /// Number of screenshots stored in the section's period; `absent` when the section has no period.
    StoreResult<qint64> countScreenshotsInPeriod(const FolderSection& section);
    /// Number of all screenshots.
    StoreResult<qint64> countScreenshots();
    /// Every folder in sidebar order (`sort_order` ascending). A failure is left to the caller to log.
    StoreResult<std::vector<Folder>> queryFolders();

    /// Rebuilds the full-text indexes from the screenshots (after SQLite reported a corrupt index).
    StoreResult<void> rebuildIndex();

    /// The screenshots whose text is still to be recognised (`NewScreenshot::textToCome`, and rows that an
    /// open gave back), oldest first, with their image's "file://" URL text.
    StoreResult<std::vector<std::pair<qint64, QString>>> screenshotsAwaitingText();

    // File changes in flight --------------------------------------------------------------------------------
    // An image is moved or trashed only after the change is recorded here: a move with the edit that names the
    // new path (`updateScreenshot`), a delete before the row goes, whose delete clears the record in the same
    // transaction. Opening the library finishes what a killed run left recorded: a delete is completed, a
    // moved image's row is pointed at wherever the image is.

    /// Records that the screenshot at the URL text `path` is being deleted. When it cannot be recorded, the
    /// file must not go; a failure is neither logged nor told to the user here: the caller, which knows the
    /// file, does both. Done at once in a library that keeps no record (or none).
    StoreResult<void> recordDelete(qint64 screenshotId, const QString& path);

    // A capture or an import records each new image before it writes the file (`writeNewFile`), and the insert
    // of its row clears the record. Opening the library lists a recorded image that is there (its text is
    // recognised again) and removes what a killed write left of one that is not.

    /// Records that a new image is about to be written at the "file://" URL text `path`, to be listed under
    /// `name`. When it cannot be recorded, the file must not be written. As `recordFileMove` without a record.
    StoreResult<void> recordNewImage(const QString& path, const QString& name, bool wasImported) override;
    /// Forgets the record of a new image that gets no row (its file was removed, or never written).
    StoreResult<void> forgetNewImage(const QString& path) override;

private:
    void migrate();
    StoreResult<void> createInitialTables();
    StoreResult<void> addAssistantColumns();
    void repairIndexTriggers();
    void completeSchema();
    bool hasTable(const char* name);
    void addWordIndex();
    StoreResult<void> recordFileChange(qint64 screenshotId, const char* change, const QString& source,
                                       const std::optional<QString>& target);
    /// `filteredScreenshotIds` on `db`; throws what SQLite reports.
    std::optional<std::vector<qint64>>
    filteredIds(sqlite::Connection& db, const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                const std::optional<FolderSection>& period, qsizetype firstIds = 0,
                const std::function<void(const std::vector<qint64>&)>& firstIdsFound = {}) const;
    void finishPendingFileChanges();
    void finishPendingNewImages();
    /// Sets the damaged file at `path` aside and opens a new library there with the images of the screenshots
    /// directory.
    void startAnew(const QString& path, const QString& damage);
    /// Lists every image of the screenshots directory that is not in `listed` (local paths) in the library; how
    /// many.
    int giveBackImages(const QSet<QString>& listed = {});
    /// Lists the images of the screenshots directory in the library just made at `path` because no library
    /// file was there, and says so: they are the missing library's, whose rows went with it.
    void giveBackImagesOfMissingLibrary(const QString& path);
    /// Rebuilds the damaged library (see `repairAfterDamage`); `told` says what was done. True
    /// when it was rebuilt.
    bool repair(bool opening, LibraryOpenProblem& told);
    /// The steps of `repair` on the library file at `path`: a new library beside it, filled by `salvage` and
    /// the images without a row (`given` of them), whose content the open connection takes over. The reason on
    /// failure, when the library is left as it was.
    std::optional<QString> rebuildInPlace(const QString& path, SalvagedLibrary& salvaged, int& given);
    /// `repairAfterDamage` on the calling thread, once the open has ended. When `opening`, the damage was found
    /// by the open: what was done is its `openProblem`, and the notes of an earlier run are finished afterwards.
    bool mend(const QString& damage, int repairsSeen, bool opening = false);
    /// `mend` on a thread of the store's own, told by `libraryRepairingNotification`; `backgroundRepair_` is
    /// set, and cleared once the library is ready.
    void mendInBackground(const QString& damage, int repairsSeen, bool opening);
    /// What a repair did: whether the operation may be tried again, and what the user is told.
    struct Mending {
        bool mended = false;
        std::optional<LibraryOpenProblem> told;
    };
    /// The steps of `mend` that hold the connection.
    Mending rebuildAfterDamage(const QString& damage, int repairsSeen, bool opening);
    /// Tells what `rebuildAfterDamage` did.
    void tellMended(const Mending& mending, bool opening);
    /// The bounded look for damage of the open, which rebuilds an index found only out of step; the damage.
    std::optional<QString> lookForDamage();
    /// Mends the damage found by the open, on a thread of the store's own when repairs run in the background.
    void mendOnOpening(const QString& damage);
    void setOpenProblem(const LibraryOpenProblem& problem);
    /// The damage that an operation of the open met, forgotten.
    std::optional<QString> damageMetWhileOpening();
    /// Readers of `changesSince` read everything again.
    void forgetChanges();
    /// The new image at the URL text `path` has its row, or is forgotten: it is no longer in flight.
    void imageLanded(const QString& path);
    bool inFlight(const QString& path);
    /// Writes the notes of the new images in flight into `db`, as far as they are not there; their local paths.
    /// `inFlightMutex_` is held; throws what SQLite reports.
    QSet<QString> writeNotesInFlight(sqlite::Connection& db);
    /// Ends a repair in the background, holding the connection: the notes kept meanwhile are written into the
    /// library, and the operations of the main thread are let through.
    void endBackgroundRepair();
    void finishDelete(qint64 screenshotId, const QString& path);

    struct ChangeLog;

    std::shared_ptr<sqlite::Connection> db_;
    static std::shared_ptr<ChangeLog> newChangeLog();
    std::shared_ptr<ChangeLog> changeLog_ = newChangeLog();
    /// The word index exists (a library whose index could not be made has neither index).
    std::atomic<bool> wordIndex_{false};
    /// The record of file changes exists (it is made for libraries at the current version only).
    std::atomic<bool> fileJournal_{false};
    /// Guards `openProblem_` and `damageWhileOpening_`, which a repair in the background writes.
    mutable std::mutex openingMutex_;
    std::optional<LibraryOpenProblem> openProblem_;
    /// Screenshots whose recorded move is done (`noteFileMoved`), for the next write to forget.
    std::mutex movedMutex_;
    std::vector<qint64> moved_;
    /// New images noted this run whose row is still to come or whose note is still to be forgotten (by their
    /// "file://" URL text): a repair meanwhile lists none of them from its images, and notes them again. Guards
    /// the end of a repair in the background too, so that a note is kept here or written, never neither.
    struct NewImageNote {
        QString name;
        bool wasImported = false;
    };
    std::mutex inFlightMutex_;
    QHash<QString, NewImageNote> imagesInFlight_;
    /// The open has ended: damage found from now on is mended at once.
    std::atomic<bool> repairsReady_{false};
    /// Damage that an operation of the open found.
    std::optional<QString> damageWhileOpening_;
    std::atomic<int> repairs_{0};
    std::atomic<bool> repairFailed_{false};
    std::atomic<bool> repairsInBackground_{false};
    std::atomic<bool> backgroundRepair_{false};
    std::mutex repairEndMutex_;
    std::condition_variable repairEnded_;
    /// The repair on the store's own thread, waited for when the store goes.
    QFuture<void> backgroundRepairRun_;
};

/// Runs `load`, which throws what fails (a `StoreError` from `StoreResult::value`, or SQLite's error); when it
/// fails on a corrupt index, rebuilds the store's index and runs it once more. Any other failure, or a second
/// one, is logged ("Error loading screenshots from DB: …") and gives false.
bool loadRebuildingIndexOnce(ScreenshotsDB& store, const std::function<void()>& load);

} // namespace lumetrove
