#include "lumetrove/library/ScreenshotsListManager.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/DesktopApplications.h"
#include "lumetrove/platform/Log.h"

#include <QFile>
#include <QFuture>
#include <QFutureWatcher>
#include <QMutex>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <unordered_map>
#include <utility>

namespace lumetrove {

struct ScreenshotsListManager::Filters {
    std::optional<QString> searchText;
    std::optional<Folder> folder;
    std::optional<FolderSection> period;
};

ScreenshotsListManager::ScreenshotsListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QObject(parent), store_(store ? std::move(store) : ScreenshotsDB::shared()),
      cache_(std::make_shared<RecordCache>())
{
    startReload(Subject::none);
}

ScreenshotsListManager::~ScreenshotsListManager() = default;

ScreenshotsDB& ScreenshotsListManager::store() const
{
    return *store_;
}

void ScreenshotsListManager::setScreenshots(QList<ScreenshotPtr> screenshots)
{
    publishedTicket_ = ++lastTicket_;
    publish(std::move(screenshots));
}

void ScreenshotsListManager::publish(QList<ScreenshotPtr> screenshots)
{
    listLoaded_ = true;
    screenshots_ = std::move(screenshots);
    emit screenshotsChanged(screenshots_);
}

void ScreenshotsListManager::setSearchFilter(QString searchFilter)
{
    searchFilter_ = std::move(searchFilter);
    startReload(Subject::none);
}

void ScreenshotsListManager::setFolderFilter(std::optional<Folder> folder)
{
    folderFilter_ = std::move(folder);
    emit folderFilterChanged(folderFilter_);
    startReload(Subject::folder);
}

void ScreenshotsListManager::setTimePeriod(std::optional<FolderSection> period)
{
    timePeriod_ = std::move(period);
    emit timePeriodChanged(timePeriod_);
    startReload(Subject::timePeriod);
}

ScreenshotsListManager::Filters ScreenshotsListManager::currentFilters() const
{
    // An empty search is no search; a search of blanks is passed on as it is.
    return Filters{searchFilter_.isEmpty() ? std::nullopt : std::optional<QString>(searchFilter_), folderFilter_,
                   timePeriod_};
}

std::vector<ScreenshotRow> ScreenshotsListManager::loadScreenshotRows(ScreenshotsDB& store,
                                                                      const std::optional<QString>& searchText,
                                                                      const std::optional<Folder>& folder,
                                                                      const std::optional<FolderSection>& period)
{
    std::vector<ScreenshotRow> rows;
    const bool loaded = loadRebuildingIndexOnce(store, [&] {
        rows.clear(); // what a failed first try read
        const StoreResult<void> read = store.queryScreenshots(
            searchText, folder, period, [&](ScreenshotRow&& row) { rows.push_back(std::move(row)); });
        if (!read && read.error().kind() != StoreError::Kind::noConnection) {
            read.value();
        }
    });
    if (!loaded) {
        rows.clear();
    }
    return rows;
}

namespace {

/// A 64-bit digest of every value of a row, kept in place of the row to tell whether a later read of it
/// differs: a cached entry then costs a few bytes instead of a row's dozen strings. Each text goes through
/// the standard library's string hash (several times faster than Qt's on a refresh of 100k rows); the field
/// digests are chained with a multiply-xorshift step, so that their order and an absent value (unlike an
/// empty one) count.
class RowFingerprint {
public:
    explicit RowFingerprint(const ScreenshotRow& row)
    {
        add(row.id);
        add(row.name);
        add(row.createdAt);
        add(row.description);
        add(row.keywords);
        add(row.aiResults);
        add(row.path);
        add(row.text);
        add(row.folderId ? quint64(*row.folderId) : absent);
        add(row.folderId.has_value());
        add(row.capturedAppName);
        add(row.capturedAppBundleId);
        add(row.isAIAssistantTask);
        add(row.aiAssistantTask);
        add(row.aiAssistantResults);
        add(row.wasImported);
        add(row.detailsRead);
        add(row.textSnippet);
    }

    quint64 value() const { return value_; }

private:
    static constexpr quint64 absent = 0x6a09e667f3bcc908ULL;

    void add(quint64 field)
    {
        value_ = (value_ ^ field) * 0xbf58476d1ce4e5b9ULL;
        value_ ^= value_ >> 31;
        value_ *= 0x94d049bb133111ebULL;
        value_ ^= value_ >> 29;
    }
    void add(qint64 field) { add(quint64(field)); }
    void add(bool field) { add(quint64(field ? 1 : 2)); }
    void add(const QString& field)
    {
        const std::u16string_view units(reinterpret_cast<const char16_t*>(field.utf16()), size_t(field.size()));
        add(quint64(std::hash<std::u16string_view>{}(units)) ^ quint64(field.size()));
    }
    void add(const std::optional<QString>& field) { field ? add(*field) : add(absent); }

    quint64 value_ = 0x9e3779b97f4a7c15ULL;
};

quint64 fingerprint(const ScreenshotRow& row)
{
    return RowFingerprint(row).value();
}

} // namespace

/// What a load hands to the manager's thread.
struct ScreenshotsListManager::Loaded {
    QList<ScreenshotPtr> screenshots;
    /// Positions of `screenshots` whose record was assigned to since the cache compared it with its row, with
    /// that row: whether the record still stands for it is asked on the record's own thread.
    std::vector<std::pair<qsizetype, ScreenshotRow>> unsettled;
    /// Records that left the cache, let go of on the manager's thread.
    std::vector<ScreenshotPtr> retired;
    /// Records that the cache took in, by this load or a settlement.
    std::vector<ScreenshotPtr> made;
    /// A later reload had started before this one's turn came: it read nothing, and its result is no list.
    bool superseded = false;
};

class ScreenshotsListManager::RecordCache {
public:
    struct Entry {
        ScreenshotPtr record;
        /// The record's revision when it was last found to stand for the row.
        quint64 revision = 0;
        /// The fingerprint of the row as last read.
        quint64 row = 0;
        quint64 generation = 0;
    };
    /// A decision of the manager's thread about an unsettled record: `record` (none: forget the screenshot)
    /// stands for the row of fingerprint `row` at `revision`, in place of `previous`.
    struct Settlement {
        qint64 id = 0;
        ScreenshotPtr previous;
        ScreenshotPtr record;
        quint64 revision = 0;
        quint64 row = 0;
    };
    /// Rows of this refresh whose records were assigned to since they were compared, by id: the list of the
    /// load hands them to the manager's thread to compare.
    using UnsettledRows = std::unordered_map<qint64, ScreenshotRow>;

    /// Held by a load for as long as it reads and changes the entries.
    QMutex mutex;
    std::unordered_map<qint64, Entry> entries;
    /// Every id, newest first.
    std::vector<qint64> order;
    /// The store's change stamp when the entries were read; none before the first read.
    std::optional<std::pair<qint64, qint64>> stamp;
    quint64 generation = 0;

    /// Kept apart from `mutex`, so that the manager's thread never waits for a load.
    void settle(std::vector<Settlement> settlements)
    {
        const QMutexLocker lock(&settlementsMutex_);
        for (Settlement& settlement : settlements) {
            settlements_.push_back(std::move(settlement));
        }
    }

    /// Applies the settlements made since the last load; called with `mutex` held.
    void applySettlements(Loaded& loaded)
    {
        std::vector<Settlement> settlements;
        {
            const QMutexLocker lock(&settlementsMutex_);
            settlements.swap(settlements_);
        }
        for (Settlement& settlement : settlements) {
            const auto found = entries.find(settlement.id);
            if (found == entries.end() || found->second.record != settlement.previous) {
                continue; // decided about a record that a later read replaced already
            }
            Entry& entry = found->second;
            if (!settlement.record) {
                loaded.retired.push_back(std::move(entry.record));
                entries.erase(found); // the order still lists the id, which a load then passes over
            } else if (settlement.row == entry.row) {
                if (settlement.record != entry.record) {
                    loaded.retired.push_back(std::exchange(entry.record, settlement.record));
                    loaded.made.push_back(std::move(settlement.record));
                }
                entry.revision = settlement.revision;
            }
        }
    }

    /// Reads every screenshot's list columns and folder, keeping the record of each unchanged row.
    void refresh(ScreenshotsDB& store, const std::shared_ptr<ScreenshotsDB>& shared, QThread* home, Loaded& loaded,
                 UnsettledRows& unsettled)
    {
        const quint64 current = ++generation;
        std::vector<qint64> ids;
        ids.reserve(order.size());
        store
            .queryScreenshots(std::nullopt, std::nullopt, std::nullopt,
                              [&](ScreenshotRow&& row) {
                                  ids.push_back(row.id);
                                  keep(std::move(row), current, shared, home, loaded, unsettled);
                              })
            .value();
        for (auto entry = entries.begin(); entry != entries.end();) {
            if (entry->second.generation != current) {
                loaded.retired.push_back(std::move(entry->second.record));
                entry = entries.erase(entry);
            } else {
                ++entry;
            }
        }
        order = std::move(ids);
    }

private:
    /// Stores a row in its entry: an unchanged row keeps its record; a changed one gets a new record unless
    /// its record was assigned to since, which its own thread then compares with the row.
    void keep(ScreenshotRow row, quint64 current, const std::shared_ptr<ScreenshotsDB>& store, QThread* home,
              Loaded& loaded, UnsettledRows& unsettled)
    {
        const auto [found, added] = entries.try_emplace(row.id);
        Entry& entry = found->second;
        entry.generation = current;
        const quint64 print = fingerprint(row);
        if (added || (entry.row != print && entry.record->revision() == entry.revision)) {
            if (entry.record) {
                loaded.retired.push_back(std::move(entry.record));
            }
            entry.record = Screenshot::fromRow(row, store);
            loaded.made.push_back(entry.record);
            if (home != nullptr && entry.record->thread() != home) {
                entry.record->moveToThread(home);
            }
            entry.revision = entry.record->revision();
        } else if (entry.record->revision() != entry.revision) {
            unsettled.insert_or_assign(row.id, std::move(row));
        }
        entry.row = print;
    }

    QMutex settlementsMutex_;
    std::vector<Settlement> settlements_;
};

ScreenshotsListManager::Loaded ScreenshotsListManager::load(RecordCache& cache,
                                                            const std::shared_ptr<ScreenshotsDB>& store,
                                                            const Filters& filters, QThread* home)
{
    Loaded loaded;
    if (!store->db()) {
        return loaded;
    }
    const bool succeeded = loadRebuildingIndexOnce(*store, [&] {
        loaded.screenshots.clear();
        loaded.unsettled.clear();
        const QMutexLocker lock(&cache.mutex);
        cache.applySettlements(loaded);
        RecordCache::UnsettledRows unsettledRows;
        std::optional<std::vector<qint64>> filtered;
        // A write between reading the records and reading the filter's ids is read again, a few times at most.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::optional<std::pair<qint64, qint64>> stamp = store->changeStamp();
            if (!stamp || !cache.stamp || *stamp != *cache.stamp) {
                cache.stamp.reset(); // until the read below is complete
                cache.refresh(*store, store, home, loaded, unsettledRows);
                cache.stamp = stamp;
            }
            filtered = store->filteredScreenshotIds(filters.searchText, filters.folder, filters.period).value();
            if (cache.stamp && std::optional<std::pair<qint64, qint64>>(store->changeStamp()) == cache.stamp) {
                break;
            }
        }
        const std::vector<qint64>& ids = filtered ? *filtered : cache.order;
        loaded.screenshots.reserve(static_cast<qsizetype>(ids.size()));
        for (const qint64 id : ids) {
            const auto found = cache.entries.find(id);
            if (found == cache.entries.end()) {
                continue; // written after the records were read; the next load has it
            }
            const RecordCache::Entry& entry = found->second;
            if (entry.record->revision() != entry.revision) {
                // Assigned to since the refresh, or before a load that read nothing: its row read once more.
                std::optional<ScreenshotRow> row;
                if (const auto read = unsettledRows.find(id); read != unsettledRows.end()) {
                    row = std::move(read->second);
                    unsettledRows.erase(read);
                } else {
                    row = store->screenshotRow(id);
                }
                if (!row) {
                    continue; // deleted since the records were read; the next load drops it
                }
                loaded.unsettled.emplace_back(loaded.screenshots.size(), std::move(*row));
            }
            loaded.screenshots.push_back(entry.record);
        }
    });
    if (!succeeded) {
        loaded.screenshots.clear();
        loaded.unsettled.clear();
    }
    return loaded;
}

QList<ScreenshotPtr> ScreenshotsListManager::settle(Loaded& loaded)
{
    std::vector<RecordCache::Settlement> settlements;
    for (auto& [position, row] : loaded.unsettled) {
        ScreenshotPtr& record = loaded.screenshots[position];
        ScreenshotPtr chosen = record->holds(row) ? record : Screenshot::fromRow(row, store_);
        if (chosen != record && awaitingText_.contains(row.id)) {
            records_.insert(row.id, chosen);
        }
        settlements.push_back({row.id, record, chosen, chosen->revision(), fingerprint(row)});
        record = std::move(chosen);
    }
    loaded.unsettled.clear();
    if (!settlements.empty()) {
        cache_->settle(std::move(settlements));
    }
    return std::move(loaded.screenshots);
}

void ScreenshotsListManager::remember(const Loaded& loaded)
{
    for (const ScreenshotPtr& record : loaded.made) {
        if (awaitingText_.contains(record->id())) {
            records_.insert(record->id(), record);
        }
    }
    for (const ScreenshotPtr& record : loaded.retired) {
        if (const auto known = records_.constFind(record->id());
            known != records_.constEnd() && known->lock() == record) {
            records_.erase(known);
        }
    }
}

QList<ScreenshotPtr> ScreenshotsListManager::loadScreenshots()
{
    Loaded loaded = load(*cache_, store_, currentFilters(), thread());
    remember(loaded);
    return settle(loaded);
}

void ScreenshotsListManager::startReload(Subject subject)
{
    const quint64 ticket = ++lastTicket_;
    ++reloadsInFlight_;
    // The watcher belongs to the manager: once the manager is gone, no result is delivered.
    auto* watcher = new QFutureWatcher<Loaded>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ticket, subject] {
        Loaded loaded = watcher->future().takeResult();
        watcher->deleteLater();
        remember(loaded);
        finishReload(ticket, loaded, subject);
    });
    latestTicket_->store(ticket, std::memory_order_release);
    watcher->setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), [cache = cache_, store = store_, filters = currentFilters(),
                                                          home = thread(), latest = latestTicket_, ticket] {
            // Keystrokes start reloads faster than a large library answers them: one whose turn comes after a later
            // one started would only hold the connection while the list the user wants waits behind it.
            if (latest->load(std::memory_order_acquire) != ticket) {
                Loaded skipped;
                skipped.superseded = true;
                return skipped;
            }
            return load(*cache, store, filters, home);
        }));
}

void ScreenshotsListManager::finishReload(quint64 ticket, Loaded& loaded, Subject subject)
{
    --reloadsInFlight_;
    if (loaded.superseded) {
        // The list of a later reload stands for this one: its subject is sent once that list is in place.
        if (lastTicket_ <= publishedTicket_) {
            sendSubject(subject);
        } else if (subject != Subject::none) {
            waitingForList_.emplace_back(lastTicket_, [this, subject] { sendSubject(subject); });
        }
        return;
    }
    if (ticket > publishedTicket_) {
        publishedTicket_ = ticket;
        // The cache keeps the record of an unchanged row, so the same records are the same list. A new record
        // for the same id holds a row that changed (a capture renamed after its insert): showing the old one
        // would show what the library no longer holds.
        const bool same = std::equal(loaded.screenshots.cbegin(), loaded.screenshots.cend(), screenshots_.cbegin(),
                                     screenshots_.cend());
        if (!same || !listLoaded_) { // the first list is published even when empty: it is news to the window
            publish(settle(loaded));
        }
    }
    sendSubject(subject);
    std::vector<std::function<void()>> ready;
    for (auto waiting = waitingForList_.begin(); waiting != waitingForList_.end();) {
        if (waiting->first <= publishedTicket_) {
            ready.push_back(std::move(waiting->second));
            waiting = waitingForList_.erase(waiting);
        } else {
            ++waiting;
        }
    }
    for (const std::function<void()>& done : ready) {
        done();
    }
}

void ScreenshotsListManager::sendSubject(Subject subject)
{
    switch (subject) {
    case Subject::none:
        break;
    case Subject::folder:
        folderFilterSubject_ = folderFilter_;
        emit folderFilterSubjectChanged(folderFilterSubject_);
        break;
    case Subject::timePeriod:
        timePeriodSubject_ = timePeriod_;
        emit timePeriodSubjectChanged(timePeriodSubject_);
        break;
    }
}

void ScreenshotsListManager::reload()
{
    startReload(Subject::none);
}

void ScreenshotsListManager::whenListed(std::function<void()> done)
{
    if (lastTicket_ <= publishedTicket_) {
        done();
        return;
    }
    waitingForList_.emplace_back(lastTicket_, std::move(done));
}

void ScreenshotsListManager::addScreenshot(const CapturedScreenshotInfo& info, bool wasImported)
{
    std::optional<QString> appName;
    std::optional<QString> bundleId;
    std::optional<QString> assistantTask;
    if (const std::optional<WindowDetails>& details = info.windowDetails) {
        appName = details->applicationName;
        if (details->applicationOwnerPID) {
            bundleId = desktopEntryIdOfProcess(*details->applicationOwnerPID);
        }
        assistantTask = details->aiAssistantTask;
    }
    const std::optional<qint64> id =
        store().insertScreenshot(NewScreenshot{.name = info.screenshotFilename,
                                               .path = info.screenshotPath,
                                               .text = info.recognizedText,
                                               .capturedAppBundleId = bundleId,
                                               .capturedAppName = appName,
                                               .isAIAssistantTask = assistantTask.has_value(),
                                               .aiAssistantTask = assistantTask,
                                               .wasImported = wasImported,
                                               .textToCome = info.pendingRecognizedText.has_value()});
    if (id) {
        // However the capture or the import wrote it, the image is its owner's alone.
        const QUrl image(info.screenshotPath);
        if (image.isLocalFile()) {
            restrictFileToOwner(image.toLocalFile());
        }
        if (folderFilter_ && !folderFilter_->isSmartFolder) {
            store().insertFolderScreenshot(*id, folderFilter_->id);
        }
        if (const std::optional<QString> path = info.thumbnail ? thumbnailFilePath(*id) : std::nullopt) {
            QFile thumbnail(*path);
            if (thumbnail.open(QIODevice::WriteOnly | QIODevice::Truncate, QFile::ReadOwner | QFile::WriteOwner)) {
                thumbnail.write(*info.thumbnail); // a thumbnail that cannot be written is simply missing
            }
        }
    }
    if (id && info.pendingRecognizedText) {
        awaitingText_.insert(*id); // before the load below makes its record
        auto* watcher = new QFutureWatcher<QString>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, id = *id] {
            watcher->deleteLater();
            setRecognizedText(id, watcher->result());
            awaitingText_.remove(id);
            records_.remove(id);
        });
        watcher->setFuture(*info.pendingRecognizedText);
    }
    if (!wasImported && id) {
        // Renamed through a record of its own, before any list holds one: the list made next reads the row
        // as it is after the rename, and the main thread reads this one row, never the whole list.
        if (std::optional<ScreenshotRow> row = store().screenshotRow(*id)) {
            const ScreenshotPtr record = Screenshot::fromRow(std::move(*row), store_);
            record->renameScreenshotFile(true);
            record->save();
        }
    }
    startReload(Subject::none);
}

void ScreenshotsListManager::discardCapturedImage(const CapturedScreenshotInfo& info)
{
    const QUrl url(info.screenshotPath);
    if (url.isLocalFile()) {
        QFile::remove(url.toLocalFile());
    }
    store().forgetNewImage(info.screenshotPath);
}

void ScreenshotsListManager::setRecognizedText(qint64 screenshotId, const QString& text)
{
    // An empty text is stored too: the row no longer awaits one.
    if (!store().updateScreenshotText(screenshotId, text) || text.isEmpty()) {
        return;
    }
    ScreenshotPtr record = records_.value(screenshotId).lock();
    if (!record) { // a screenshot whose text nothing awaited: its record in the list, if any
        const auto listed = std::find_if(screenshots_.cbegin(), screenshots_.cend(),
                                         [&](const ScreenshotPtr& shown) { return shown->id() == screenshotId; });
        record = listed == screenshots_.cend() ? nullptr : *listed;
    }
    if (record) {
        record->takeRecognizedText(text);
    }
    if (!searchFilter_.isEmpty()) {
        startReload(Subject::none);
    }
}

void ScreenshotsListManager::deleteScreenshots(const std::set<qsizetype>& positions)
{
    const QList<ScreenshotPtr> before = screenshots_;
    QList<ScreenshotPtr> after = screenshots_;
    bool deleted = false;
    for (const qsizetype position : positions) {
        if (position < 0 || position >= before.size()) {
            continue;
        }
        const ScreenshotPtr& screenshot = before[position];
        // Recorded before the image goes to the Trash, so that a delete cut short is finished on the next open.
        const QString path = screenshot->imageUrl() ? screenshot->imageUrl()->toString(QUrl::FullyEncoded) : QString();
        if (const StoreResult<void> recorded = store().recordDelete(screenshot->id(), path); !recorded) {
            const QString& error = recorded.error().description();
            systemLog(QStringLiteral("Failed to move screenshot to trash: ") + error);
            reportLibraryProblem(QStringLiteral("“%1” could not be deleted: %2")
                                     .arg(screenshot->name().value_or(screenshot->defaultName()), error));
            continue;
        }
        screenshot->deleteFiles();
        store().deleteScreenshot(screenshot->id());
        cache_->settle({{screenshot->id(), screenshot, nullptr, 0, 0}});
        records_.remove(screenshot->id());
        after.removeOne(screenshot);
        deleted = true;
    }
    if (!deleted) {
        return;
    }
    setScreenshots(std::move(after));
    // A reload still under way may have read the deleted rows; its result is dropped, so load again.
    if (reloadsInFlight_ > 0) {
        startReload(Subject::none);
    }
}

std::optional<qint64> ScreenshotsListManager::totalScreenshotCount()
{
    return store().countScreenshots();
}

} // namespace lumetrove
