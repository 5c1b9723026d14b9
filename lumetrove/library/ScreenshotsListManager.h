#pragma once

#include "lumetrove/library/CapturedScreenshotInfo.h"
#include "lumetrove/library/Folder.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/library/ScreenshotList.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QTimer;
template <typename T> class QFutureWatcher;

namespace lumetrove {

class ScreenshotsDB;

/// The observable list of screenshots that the main window shows, newest first, for the current search
/// text, folder filter and time period. Lives on the main thread.
///
/// The list is made of row values (`ScreenshotList`); the `Screenshot` record of a row is made when something
/// asks for it (`screenshotAt`, `ScreenshotList::at`) and shared by id while it is held, so a row nobody uses
/// costs only its values. The views show a held record's values over its row's.
///
/// Setting a filter (even to the value it holds) starts a reload: the filters are read on the main thread
/// when it starts, and the list is made on the thread pool from the rows read before, with the rows the
/// library changed since read again, so that publishing it costs the main thread next to nothing. A reload
/// started later always wins: an older result that arrives afterwards is dropped. A load that reads many rows
/// (the first list of a large library, a search with many matches) publishes its newest `firstPageRows` first,
/// while it reads on, and then its whole list, which the first part begins. A result of the same rows
/// publishes nothing; each publication tells how the list changed (`ScreenshotListChange`). After a folder or period
/// reload the matching subject is sent, whether or not the list changed.
class ScreenshotsListManager : public QObject {
    Q_OBJECT

public:
    /// Starts the first load on the thread pool, as a reload: the list is empty until `screenshotsChanged`
    /// publishes it (even when it is empty).
    explicit ScreenshotsListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent = nullptr);
    ~ScreenshotsListManager() override;

    const ScreenshotList& screenshots() const { return screenshots_; }
    /// The rows of the first part of a load that reads many: more than a window shows.
    static constexpr qsizetype firstPageRows = 300;

    /// False until a list has been published: an empty list before then says nothing about the library.
    bool listLoaded() const { return listLoaded_; }
    /// Replaces the list; results of reloads started earlier are dropped.
    void setScreenshots(ScreenshotList screenshots);

    /// The record of the listed screenshot at `position`, made now when nobody holds one; null outside the list.
    ScreenshotPtr screenshotAt(qsizetype position) const { return screenshots_.value(position); }
    /// The record of this screenshot when someone holds one; null otherwise.
    ScreenshotPtr heldScreenshot(qint64 id) const { return records_->held(id); }

    const QString& searchFilter() const { return searchFilter_; }
    void setSearchFilter(QString searchFilter);
    const std::optional<Folder>& folderFilter() const { return folderFilter_; }
    void setFolderFilter(std::optional<Folder> folder);
    const std::optional<FolderSection>& timePeriod() const { return timePeriod_; }
    void setTimePeriod(std::optional<FolderSection> period);

    /// The folder filter last sent on the folder subject (the current value of the subject).
    const std::optional<Folder>& folderFilterSubject() const { return folderFilterSubject_; }
    /// The time period last sent on the period subject.
    const std::optional<FolderSection>& timePeriodSubject() const { return timePeriodSubject_; }

    /// Loads the list for the current filters on the calling thread. Never throws: a corrupt index is rebuilt
    /// and the load tried once more; any other failure is logged and gives an empty list.
    ScreenshotList loadScreenshots();

    /// The rows of a load for these filters, read on the calling thread. Never throws, as `loadScreenshots`.
    static std::vector<ScreenshotRow> loadScreenshotRows(ScreenshotsDB& store, const std::optional<QString>& searchText,
                                                         const std::optional<Folder>& folder,
                                                         const std::optional<FolderSection>& period);

    /// Adds a captured (or imported) image without holding up this thread: its row is inserted on the writer
    /// thread of `addImportedScreenshots`, at once, linked to the plain folder selected now and given its
    /// thumbnail (`thumbnailWritten`); a capture's file is then renamed after the default name, and the list
    /// reloaded (`whenListed` waits for the row to be written and listed). A row that could not be kept is told
    /// to the user by the store; its image stays listed for the next open. A text still being recognised is
    /// written by the writer thread when it comes. `kept` is called on this thread with the new row's id once it
    /// is stored, before `whenListed` tells that it is listed; never for a row that could not be kept.
    void addScreenshot(const CapturedScreenshotInfo& info, bool wasImported,
                       std::function<void(qint64)> kept = nullptr);

    /// Adds imported images without holding up this thread: their rows are inserted on a writer thread of the
    /// manager's, as many as are waiting in one transaction, each linked to the plain folder selected now and
    /// given its thumbnail; the list is loaded again after each such batch, so rows come into the list while an
    /// import goes on. `stored` is called on this thread once the rows are in the library (a row that could not
    /// be kept is told to the user by the store; its image stays listed for the next open). A text still being
    /// recognised is written by the writer thread too when it comes. `notKept` is told on this thread, before
    /// `stored`, each image whose row could not be kept, named by its file and with why, for the import's report.
    void addImportedScreenshots(const QList<CapturedScreenshotInfo>& infos, std::function<void()> stored = nullptr,
                                std::function<void(const SkippedImport&)> notKept = nullptr);

    /// Removes the image of a captured record that is not to be kept (an assistant's "Copy text" or "Web
    /// search" capture), with the note that it was to be listed.
    void discardCapturedImage(const CapturedScreenshotInfo& info);

    /// Loads the list again for the current filters, on the thread pool: for a write the manager did not
    /// make itself (a screenshot dropped on a folder).
    void reload();
    /// Tells the views that thumbnail files of listed screenshots were written anew (drawn in the background
    /// for rows that had none), so that they read them again.
    void thumbnailsRedrawn() { emit thumbnailsChanged(); }

    /// While no window shows the list (closed to the tray): lets go of its rows, those read for the loads and
    /// the text starts held, so that the idle program does not grow with the library. The filters stay;
    /// reloads asked for meanwhile (a capture, a recognised text) wait for `reacquireRows`, and so do the calls
    /// handed to `whenListed`. Until then the list is empty and not loaded (`listLoaded`).
    void releaseRows();
    /// Reads the list again for the filters kept, its newest rows first, as for a first list.
    void reacquireRows();
    bool rowsReleased() const { return rowsReleased_; }

    /// Calls `done` on this thread once the list is as new as every reload started so far: its result, or
    /// a later one's, has been published (or found to be the list already shown).
    void whenListed(std::function<void()> done);

    /// The start of the recognised text that the listed row of this screenshot shows, when it has been read:
    /// a list of many rows holds it only for the rows shown (`loadTextSnippets`). A row that holds its own
    /// (`ScreenshotRow::textSnippet`) or has a description needs none.
    std::optional<QString> listedTextSnippet(qint64 id) const;
    /// Reads the text starts of these screenshots that are not held yet, on the thread pool;
    /// `textSnippetsLoaded` tells when they are.
    void loadTextSnippets(const std::vector<qint64>& ids);

    /// Stores the text recognised after the screenshot's row was added: in its row (and so the search
    /// index), in its record when one is held, and in its listed row by a reload.
    void setRecognizedText(qint64 screenshotId, const QString& text);

    /// Deletes the screenshots at these positions of the list as it stood when the call began: files to the
    /// Trash, rows and links from the database, rows from the list. Positions outside the list are ignored.
    void deleteScreenshots(const std::set<qsizetype>& positions);

    /// The number of all screenshots; none when the database is not open or the count fails.
    std::optional<qint64> totalScreenshotCount();

signals:
    /// A new list is in place; `change` says how the one before became it. Its records are the same (by id and
    /// folder id, in order) when `change.sameRecords` holds: only values of rows changed.
    void screenshotsChanged(const lumetrove::ScreenshotList& screenshots,
                            const lumetrove::ScreenshotListChange& change);
    /// A held record changed (or was let go of): rows that show the screenshot are painted again.
    void screenshotChanged(qint64 id);
    /// Thumbnail files of listed screenshots were written anew.
    void thumbnailsChanged();
    /// The thumbnail file of the screenshot `id` (a capture's) was written.
    void thumbnailWritten(qint64 id);
    /// The text starts of these screenshots asked for by `loadTextSnippets` were read (or are to be asked for
    /// again, after the library was read anew): their rows are painted again.
    void textSnippetsLoaded(const std::vector<qint64>& ids);
    void folderFilterChanged(const std::optional<lumetrove::Folder>& folder);
    void timePeriodChanged(const std::optional<lumetrove::FolderSection>& period);
    /// The folder subject: the list for the folder filter is in place.
    void folderFilterSubjectChanged(const std::optional<lumetrove::Folder>& folder);
    /// The period subject: the list for the time period is in place.
    void timePeriodSubjectChanged(const std::optional<lumetrove::FolderSection>& period);

private:
    enum class Subject { none, folder, timePeriod };
    struct Filters;
    struct Loaded;
    struct Reloaded;
    struct RowCache;
    struct ImportWrite;

    Filters currentFilters() const;
    /// The list for `filters` from the rows of `cache`, brought up to date, on the calling thread. Never
    /// throws, as `loadScreenshots`. When it reads many rows, `firstPage` is handed the list of the newest
    /// `firstPageRows` of them first, while the rest is read.
    static Loaded load(RowCache& cache, const std::shared_ptr<ScreenshotsDB>& store, const Filters& filters,
                       const std::function<void(Loaded)>& firstPage = {});
    void startReload(Subject subject);
    /// The watcher that delivers a reload's first part and its whole list to the manager.
    QFutureWatcher<Reloaded>* watchReload(quint64 ticket, Subject subject);
    /// The list of a reload for `filters` and how it differs from `shown`, the list shown when the reload
    /// started, on the calling thread (the pool). With `showFirstPart`, a load that reads many rows hands it the
    /// first part of its list while it reads on, unless `shown` begins with those rows; the whole list is then
    /// told against that part.
    static Reloaded loadReloaded(RowCache& cache, const std::shared_ptr<ScreenshotsDB>& store, const Filters& filters,
                                 ScreenshotList shown, const std::shared_ptr<ScreenshotRecords>& records,
                                 const std::function<void(Reloaded)>& showFirstPart);
    /// Shows the first part of the load of `ticket` unless a list as new is shown.
    void showFirstPage(quint64 ticket, Reloaded& page);
    void finishReload(quint64 ticket, Reloaded& reloaded, Subject subject);
    void sendSubject(Subject subject);
    /// Takes the text starts that the load of `ticket` read for the rows it shows first.
    void takeTextSnippets(quint64 ticket, const Reloaded& reloaded);
    /// Puts the list in place and tells how it differs from the one before (worked out here, or by the pool).
    void publish(ScreenshotList screenshots);
    void publish(ScreenshotList screenshots, ScreenshotListChange change);
    /// Lets go of the records edited before the load of `ticket` started: its rows hold their values.
    void releaseEdited(quint64 ticket);
    void recordMade(const ScreenshotPtr& record);
    /// A held record's write was kept: its row takes the place of the listed one.
    void takeStoredRow(const ScreenshotRow& row);
    ScreenshotsDB& store() const;
    /// Hands the imported rows waiting (those of one folder) to the writer thread, unless it is busy.
    void writeImports();
    /// Whether the imports waiting go to the writer now: the first batch, a full one, one with a capture or one
    /// due; otherwise the timer is set to hand them on once due.
    bool importBatchDue();
    /// Takes the imports waiting of the next batch: the first of them, and those after of the same folder up to
    /// a batch's rows.
    std::vector<ImportWrite> takeImportBatch();
    /// After a batch was written (`ids`: each row's id, none for a row that could not be kept): waits for the
    /// texts still being recognised, and renames the captures saved under a name of their own.
    void followWrittenRows(const std::vector<ImportWrite>& batch, const std::vector<std::optional<qint64>>& ids);
    /// Hands the written texts that were kept to their held records; whether one shows in the list.
    bool showWrittenTexts(const std::vector<std::pair<qint64, QString>>& texts, const std::vector<bool>& kept);
    /// Tells the views, the callers and the calls waiting for the captures that the batch was written.
    void tellBatchWritten(const std::vector<ImportWrite>& batch, const std::vector<std::optional<qint64>>& ids,
                          const std::vector<QString>& refusals);
    /// Queues the recognised text of an imported row for the writer thread.
    void queueImportedText(qint64 id, const QString& text);

    std::shared_ptr<ScreenshotsDB> store_;
    std::shared_ptr<ScreenshotRecords> records_;
    ScreenshotList screenshots_;
    /// Every screenshot's row as last read, shared with the loads on the thread pool.
    std::shared_ptr<RowCache> cache_;
    /// Records changed since the rows were read, each with the last ticket taken before its change: held until
    /// a list read after the change is published, since the row shows what the library held before.
    QHash<qint64, std::pair<quint64, ScreenshotPtr>> edited_;
    QString searchFilter_;
    std::optional<Folder> folderFilterSubject_;
    std::optional<Folder> folderFilter_;
    std::optional<FolderSection> timePeriodSubject_;
    std::optional<FolderSection> timePeriod_;
    /// The text starts read for rows shown (at most `heldTextSnippets`), and those being read.
    QHash<qint64, QString> snippets_;
    QSet<qint64> snippetsAsked_;
    /// Counts the times the held text starts were let go of: a read started before is not kept.
    quint64 snippetsGeneration_ = 0;
    /// The ticket of the last load that read every row, for which they were let go of.
    quint64 snippetsLetGoAt_ = 0;
    /// Every load takes the next ticket when it starts; a result is published only when its ticket is newer
    /// than the list's.
    quint64 lastTicket_ = 0;
    /// The filters of the reload started last.
    std::unique_ptr<Filters> reloadedFilters_;
    /// `lastTicket_` for the loads on the thread pool: a load whose ticket is no longer the latest when its
    /// turn comes skips its work.
    std::shared_ptr<std::atomic<quint64>> latestTicket_ = std::make_shared<std::atomic<quint64>>(0);
    /// `releasedTicket_`, for the loads: one that ends at or below it drops its rows itself.
    std::shared_ptr<std::atomic<quint64>> releasedAt_ = std::make_shared<std::atomic<quint64>>(0);
    /// The ticket of the last whole list published.
    quint64 publishedTicket_ = 0;
    /// The ticket of the list shown, whole or the first part of one: no older list replaces it.
    quint64 shownTicket_ = 0;
    int reloadsInFlight_ = 0;
    /// The calls waiting for a list at least as new as the reload whose ticket they hold.
    std::vector<std::pair<quint64, std::function<void()>>> waitingForList_;
    bool listLoaded_ = false;
    bool rowsReleased_ = false;
    /// The ticket taken when the rows were last let go of: no load started before then is shown.
    quint64 releasedTicket_ = 0;
    /// The imported rows and texts waiting for the writer, which writes one batch at a time.
    std::vector<ImportWrite> importsWaiting_;
    std::vector<std::pair<qint64, QString>> textsWaiting_;
    bool writingImports_ = false;
    /// Captures handed to the writer and not yet written, and the calls of `whenListed` waiting for them.
    int capturesWriting_ = 0;
    std::vector<std::function<void()>> waitingForCaptures_;
    /// When the last batch was handed to the writer; a timer starts the next once it is due.
    QElapsedTimer lastImportBatch_;
    QTimer* importTimer_ = nullptr;
    /// Made on the first import; waits for its batch when the manager goes.
    std::unique_ptr<QThreadPool> importWriter_;
};

} // namespace lumetrove
