#pragma once

#include "lumetrove/library/CapturedScreenshotInfo.h"
#include "lumetrove/library/Folder.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace lumetrove {

class ScreenshotsDB;

/// The observable list of screenshots that the main window shows, newest first, for the current search
/// text, folder filter and time period. Lives on the main thread.
///
/// Setting a filter (even to the value it holds) starts a reload: the filters are read on the main thread
/// when it starts, and the list is made on the thread pool from the records of the rows read before (a write
/// to the library has the rows read again; records of new or changed rows are made there and handed to the
/// manager's thread), so that publishing it costs the main thread next to nothing. A record assigned to since
/// it was compared with its row is checked against the row on the main thread, and replaced by a new record
/// when it no longer stands for it. A reload started later always wins: an older result that
/// arrives afterwards is dropped. A result made of the list's own records (no row added, removed or changed)
/// publishes nothing; a changed row has a new record, and so a new list. After a folder or period reload the matching
/// subject is sent, whether or not the list changed.
class ScreenshotsListManager : public QObject {
    Q_OBJECT

public:
    /// Starts the first load on the thread pool, as a reload: the list is empty until `screenshotsChanged`
    /// publishes it (even when it is empty). `store` null means `ScreenshotsDB::shared()`.
    explicit ScreenshotsListManager(std::shared_ptr<ScreenshotsDB> store = nullptr, QObject* parent = nullptr);
    ~ScreenshotsListManager() override;

    const QList<ScreenshotPtr>& screenshots() const { return screenshots_; }
    /// False until a list has been published: an empty list before then says nothing about the library.
    bool listLoaded() const { return listLoaded_; }
    /// Replaces the list (the sidebar does so after a drop); results of reloads started earlier are dropped.
    void setScreenshots(QList<ScreenshotPtr> screenshots);

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

    /// Loads the list for the current filters on the calling thread and returns fresh records. Never throws:
    /// a corrupt index is rebuilt and the load tried once more; any other failure is logged and gives an
    /// empty list.
    QList<ScreenshotPtr> loadScreenshots();

    /// The rows of a load for these filters, read on the calling thread: the part of a reload that runs on
    /// the thread pool. Never throws, as `loadScreenshots`.
    static std::vector<ScreenshotRow> loadScreenshotRows(ScreenshotsDB& store, const std::optional<QString>& searchText,
                                                         const std::optional<Folder>& folder,
                                                         const std::optional<FolderSection>& period);

    /// Adds a captured or imported image: inserts its row, links it to the selected plain folder, writes
    /// its thumbnail, for a capture renames the file after the default name, and reloads the list on the
    /// thread pool (`whenListed` tells when the list holds it). A text still being recognised is stored by
    /// `setRecognizedText` when it comes.
    void addScreenshot(const CapturedScreenshotInfo& info, bool wasImported);

    /// Removes the image of a captured record that is not to be kept (an assistant's "Copy text" or "Web
    /// search" capture), with the note that it was to be listed.
    void discardCapturedImage(const CapturedScreenshotInfo& info);

    /// Loads the list again for the current filters, on the thread pool: for a write the manager did not
    /// make itself (a screenshot dropped on a folder).
    void reload();
    /// Tells the views that thumbnail files of listed screenshots were written anew (drawn in the background
    /// for rows that had none), so that they read them again.
    void thumbnailsRedrawn() { emit thumbnailsChanged(); }

    /// Calls `done` on this thread once the list is as new as every reload started so far: its result, or
    /// a later one's, has been published (or found to be the list already shown).
    void whenListed(std::function<void()> done);

    /// Stores the text recognised after the screenshot's row was added: in its row (and so the search
    /// index) and in its record; a search under way is run again, so that the row can match it.
    void setRecognizedText(qint64 screenshotId, const QString& text);

    /// Deletes the records at these positions of the list as it stood when the call began: files to the
    /// Trash, rows and links from the database, records from the list. Positions outside the list are ignored.
    void deleteScreenshots(const std::set<qsizetype>& positions);

    /// The number of all screenshots; none when the database is not open or the count fails.
    std::optional<qint64> totalScreenshotCount();

signals:
    void screenshotsChanged(const QList<lumetrove::ScreenshotPtr>& screenshots);
    /// Thumbnail files of listed screenshots were written anew.
    void thumbnailsChanged();
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
    class RecordCache;

    Filters currentFilters() const;
    /// The list for `filters`, from the records of `cache`, on the calling thread. Records made for new or
    /// changed rows are handed to `home`. Never throws, as `loadScreenshots`.
    static Loaded load(RecordCache& cache, const std::shared_ptr<ScreenshotsDB>& store, const Filters& filters,
                       QThread* home);
    /// The list of a load, once the records changed on this thread since the cache last compared them have
    /// been checked against their rows (and replaced where they no longer stand for them).
    QList<ScreenshotPtr> settle(Loaded& loaded);
    /// Notes the records that a load's cache took in and let go of.
    void remember(const Loaded& loaded);
    void startReload(Subject subject);
    void finishReload(quint64 ticket, Loaded& loaded, Subject subject);
    void sendSubject(Subject subject);
    void publish(QList<ScreenshotPtr> screenshots);
    ScreenshotsDB& store() const;

    std::shared_ptr<ScreenshotsDB> store_;
    QList<ScreenshotPtr> screenshots_;
    /// Every screenshot's record with a fingerprint of the row it was compared with, shared with the loads on
    /// the thread pool.
    /// A load reuses a record whose row is unchanged, so that publishing a list of 100k screenshots makes no
    /// new objects (nor destroys old ones); a row that changed gets a new record, as the row would after any
    /// load.
    std::shared_ptr<RecordCache> cache_;
    /// The screenshots whose recognised text is still to come, and the cache's record of each as this thread
    /// knows it, for handing the record its text, shown or not. Only these: a map of every record would cost
    /// a list of 100k screenshots megabytes.
    QSet<qint64> awaitingText_;
    QHash<qint64, std::weak_ptr<Screenshot>> records_;
    QString searchFilter_;
    std::optional<Folder> folderFilterSubject_;
    std::optional<Folder> folderFilter_;
    std::optional<FolderSection> timePeriodSubject_;
    std::optional<FolderSection> timePeriod_;
    /// Every load takes the next ticket when it starts; a result is published only when its ticket is newer
    /// than the list's.
    quint64 lastTicket_ = 0;
    /// `lastTicket_` for the loads on the thread pool: a load whose ticket is no longer the latest when its
    /// turn comes skips its work.
    std::shared_ptr<std::atomic<quint64>> latestTicket_ = std::make_shared<std::atomic<quint64>>(0);
    quint64 publishedTicket_ = 0;
    int reloadsInFlight_ = 0;
    /// The calls waiting for a list at least as new as the reload whose ticket they hold.
    std::vector<std::pair<quint64, std::function<void()>>> waitingForList_;
    bool listLoaded_ = false;
};

} // namespace lumetrove
