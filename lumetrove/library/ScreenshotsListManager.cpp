#include "lumetrove/library/ScreenshotsListManager.h"

#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListImports.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/Memory.h"

#include <QFile>
#include <QFuture>
#include <QFutureWatcher>
#include <QMutex>
#include <QPromise>
#include <QScopeGuard>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace lumetrove {

struct ScreenshotsListManager::Filters {
    std::optional<QString> searchText;
    std::optional<Folder> folder;
    std::optional<FolderSection> period;

    friend bool operator==(const Filters&, const Filters&) = default;
};

ScreenshotsListManager::ScreenshotsListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QObject(parent), store_(std::move(store)), records_(std::make_shared<ScreenshotRecords>(store_)),
      cache_(std::make_shared<RowCache>())
{
    records_->setMadeHandler([this](const ScreenshotPtr& record) { recordMade(record); });
    startReload(Subject::none);
}

ScreenshotsListManager::~ScreenshotsListManager()
{
    // Lists handed out may outlive the manager; their records are then made for no one to observe.
    records_->setMadeHandler(nullptr);
}

ScreenshotsDB& ScreenshotsListManager::store() const
{
    return *store_;
}

void ScreenshotsListManager::setScreenshots(ScreenshotList screenshots)
{
    publishedTicket_ = shownTicket_ = ++lastTicket_;
    publish(std::move(screenshots));
}

void ScreenshotsListManager::publish(ScreenshotList screenshots)
{
    ScreenshotListChange change = ScreenshotListChange::between(screenshots_, screenshots);
    publish(std::move(screenshots), std::move(change));
}

void ScreenshotsListManager::publish(ScreenshotList screenshots, ScreenshotListChange change)
{
    if (!listLoaded_) {
        change.sameRecords = false; // the first list is news, even when empty
    }
    listLoaded_ = true;
    screenshots_ = std::move(screenshots);
    emit screenshotsChanged(screenshots_, change);
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

namespace {

/// Reads the rows for these filters (all of them with none), each with its folder, and hands each to `take`.
/// Throws the store's failure, for the load to decide on.
void readRows(ScreenshotsDB& store, const std::optional<QString>& searchText, const std::optional<Folder>& folder,
              const std::optional<FolderSection>& period, const std::function<void(ScreenshotRow&&)>& take)
{
    const StoreResult<void> read = store.queryScreenshots(searchText, folder, period, take);
    if (!read && read.error().kind() != StoreError::Kind::noConnection) {
        read.value();
    }
}

/// Beyond this many changed rows, every row is read again in one query rather than each on its own.
constexpr std::size_t rowsReadOneByOne = 2000;

/// Whether the filters keep some screenshots out of the list.
bool restrictsList(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                   const std::optional<FolderSection>& period)
{
    return !ftsSearchConditions(folder ? folder->keywordsFilter : std::nullopt, searchText).empty() ||
           (folder && !folder->isSmartFolder) || dateRangeFilter(period).has_value();
}

/// Every row read anew, newest first. When `paged`, `firstRows` is handed a table of the newest `firstPageRows`
/// of them in the same read, while the rest is read. Throws the store's failure, for the load to decide on.
std::shared_ptr<const ScreenshotTable>
readEveryRow(ScreenshotsDB& store, bool paged,
             const std::function<void(std::shared_ptr<const ScreenshotTable>)>& firstRows)
{
    constexpr qsizetype firstPageRows = ScreenshotsListManager::firstPageRows;
    ScreenshotTable::Builder rows;
    std::vector<ScreenshotRow> first;
    qsizetype read = 0;
    const StoreResult<void> readAll = store.readScreenshotRows(
        [&](ScreenshotRow&& row) {
            if (paged && read++ < firstPageRows) {
                first.push_back(row);
            }
            rows.append(std::move(row));
        },
        firstPageRows,
        [&] {
            if (paged) {
                firstRows(std::make_shared<const ScreenshotTable>(std::move(first)));
            }
        });
    if (!readAll && readAll.error().kind() != StoreError::Kind::noConnection) {
        readAll.value();
    }
    return std::make_shared<const ScreenshotTable>(std::move(rows).finish());
}

/// `table` with the rows of the screenshots that `changes` names read again (and those deleted taken out), and
/// every screenshot's folder read again when a link changed. Throws the store's failure, for the load to decide
/// on.
std::shared_ptr<const ScreenshotTable> withChanges(ScreenshotsDB& store, std::shared_ptr<const ScreenshotTable> table,
                                                   const LibraryChanges& changes)
{
    if (!changes.screenshots.empty()) {
        std::vector<ScreenshotRow> rows;
        std::vector<qint64> removed;
        for (const qint64 id : changes.screenshots) {
            StoreResult<ScreenshotRow> row = store.screenshotRow(id);
            if (row) {
                rows.push_back(*std::move(row));
            } else if (row.error().kind() == StoreError::Kind::absent) {
                removed.push_back(id);
            } else {
                row.value(); // a failed read is no deleted row: the load decides
            }
        }
        table = std::make_shared<const ScreenshotTable>(table->changed(std::move(rows), removed));
    }
    if (changes.links) {
        table = std::make_shared<const ScreenshotTable>(table->withFolders(store.folderIdsOfScreenshots().value()));
    }
    return table;
}

} // namespace

std::vector<ScreenshotRow> ScreenshotsListManager::loadScreenshotRows(ScreenshotsDB& store,
                                                                      const std::optional<QString>& searchText,
                                                                      const std::optional<Folder>& folder,
                                                                      const std::optional<FolderSection>& period)
{
    std::vector<ScreenshotRow> rows;
    if (!loadRebuildingIndexOnce(store, [&] {
            rows.clear();
            readRows(store, searchText, folder, period, [&](ScreenshotRow&& row) { rows.push_back(std::move(row)); });
        })) {
        rows.clear();
    }
    return rows;
}

/// What a load hands to the manager's thread.
struct ScreenshotsListManager::Loaded {
    std::shared_ptr<const ScreenshotTable> table;
    /// The table's positions of the rows that the filters keep; none: every row.
    std::optional<std::vector<qint32>> positions;
    /// A later reload had started before this one's turn came: it read nothing, and its result is no list.
    bool superseded = false;
    /// Every row was read anew: text starts read before may be out of date.
    bool everythingRead = false;
};

/// A reload's list, and how it differs from the list shown when the reload started: worked out on the pool,
/// so that the main thread only follows it.
struct ScreenshotsListManager::Reloaded {
    Loaded loaded;
    ScreenshotList list;
    ScreenshotList base;
    ScreenshotListChange change;
    /// The first part of a load, whose whole list follows.
    bool firstPage = false;
    /// The text starts of the first rows of `list`, which are painted first.
    QHash<qint64, QString> snippets;
};

/// Every screenshot's row as the last load left it, and where that load stood in the library's changes.
struct ScreenshotsListManager::RowCache {
    /// Held by a load for as long as it reads and changes the rows.
    QMutex mutex;
    std::shared_ptr<const ScreenshotTable> table;
    std::optional<LibraryChangeCursor> cursor;
};

ScreenshotsListManager::Loaded ScreenshotsListManager::load(RowCache& cache,
                                                            const std::shared_ptr<ScreenshotsDB>& store,
                                                            const Filters& filters,
                                                            const std::function<void(Loaded)>& firstPage)
{
    Loaded loaded;
    if (!store->db()) {
        return loaded;
    }
    const QMutexLocker lock(&cache.mutex);
    const bool succeeded = loadRebuildingIndexOnce(*store, [&] {
        // Kept in the cache only once all is read: a failed try leaves the cache as it was, and its changes
        // are told again.
        std::optional<LibraryChangeCursor> cursor = cache.cursor;
        std::shared_ptr<const ScreenshotTable> table = cache.table;
        bool firstGiven = false;
        bool everythingRead = false;
        const auto giveFirst = [&](Loaded first) {
            if (firstPage && !firstGiven) {
                firstGiven = true;
                first.everythingRead = everythingRead;
                firstPage(std::move(first));
            }
        };
        const LibraryChanges changes = store->changesSince(cursor);
        everythingRead = !table || changes.everything || changes.screenshots.size() > rowsReadOneByOne;
        if (everythingRead) {
            // Newest first: an unfiltered list shows its first rows while the rest is read, in the same read.
            const bool paged = firstPage && !restrictsList(filters.searchText, filters.folder, filters.period);
            table = readEveryRow(*store, paged, [&](std::shared_ptr<const ScreenshotTable> first) {
                giveFirst(Loaded{std::move(first), std::nullopt});
            });
        } else {
            table = withChanges(*store, std::move(table), changes);
        }
        const std::optional<std::vector<qint64>> ids =
            store
                ->filteredScreenshotIds(filters.searchText, filters.folder, filters.period, firstPageRows,
                                        [&](const std::vector<qint64>& newest) {
                                            giveFirst(Loaded{table, table->positionsOf(newest)});
                                        })
                .value();
        if (!ids && table->size() > firstPageRows) {
            // Every row, the newest of them first.
            std::vector<qint32> newest(static_cast<std::size_t>(firstPageRows));
            std::iota(newest.begin(), newest.end(), 0);
            giveFirst(Loaded{table, std::move(newest)});
        }
        loaded.table = table;
        loaded.positions = ids ? std::optional(table->positionsOf(*ids)) : std::nullopt;
        loaded.everythingRead = everythingRead;
        cache.table = std::move(table);
        cache.cursor = cursor;
    });
    if (!succeeded) {
        loaded = Loaded{};
    }
    return loaded;
}

ScreenshotList ScreenshotsListManager::loadScreenshots()
{
    Loaded loaded = load(*cache_, store_, currentFilters());
    return ScreenshotList(std::move(loaded.table), std::move(loaded.positions), records_);
}

void ScreenshotsListManager::recordMade(const ScreenshotPtr& record)
{
    const qint64 id = record->id();
    connect(record.get(), &Screenshot::changed, this, [this, id, held = std::weak_ptr<Screenshot>(record)] {
        if (const ScreenshotPtr changed = held.lock()) {
            edited_.insert(id, {lastTicket_, changed});
        }
        emit screenshotChanged(id);
    });
    connect(record.get(), &Screenshot::stored, this, &ScreenshotsListManager::takeStoredRow);
}

void ScreenshotsListManager::takeStoredRow(const ScreenshotRow& row)
{
    // The list shows the row the write gave back at once; a filter may keep or drop it now, which a reload
    // tells.
    if (const std::optional<ScreenshotList> swapped = screenshots_.withRow(row)) {
        publish(*swapped);
    }
    if (currentFilters().searchText || folderFilter_ || timePeriod_) {
        startReload(Subject::none);
    }
}

void ScreenshotsListManager::releaseEdited(quint64 ticket)
{
    std::vector<qint64> released;
    for (auto entry = edited_.begin(); entry != edited_.end();) {
        if (entry->first < ticket) {
            released.push_back(entry.key());
            entry = edited_.erase(entry);
        } else {
            ++entry;
        }
    }
    for (const qint64 id : released) {
        emit screenshotChanged(id); // its row shows the row's values again, unless another holds the record
    }
}

void ScreenshotsListManager::releaseRows()
{
    if (rowsReleased_) {
        return;
    }
    rowsReleased_ = true;
    // The ticket stands for the read that comes with `reacquireRows`: the calls waiting for a list wait for it,
    // and a load under way is dropped (one not begun skips its work), since its list holds the rows.
    releasedTicket_ = ++lastTicket_;
    latestTicket_->store(releasedTicket_, std::memory_order_release);
    releasedAt_->store(releasedTicket_, std::memory_order_release);
    reloadedFilters_.reset();
    // A load under way keeps the cache it reads until it ends.
    cache_ = std::make_shared<RowCache>();
    ++snippetsGeneration_;
    snippets_ = {};
    snippetsAsked_ = {};
    listLoaded_ = false;
    screenshots_ = ScreenshotList();
    ScreenshotListChange change;
    change.sameIds = change.sameRecords = false;
    emit screenshotsChanged(screenshots_, change);
}

void ScreenshotsListManager::reacquireRows()
{
    if (!rowsReleased_) {
        return;
    }
    rowsReleased_ = false;
    startReload(Subject::none); // a first list again: its newest rows come first
}

namespace {

/// The text starts of the rows of `list` painted first, which come with them: a list of many rows holds none.
QHash<qint64, QString> firstTextSnippets(ScreenshotsDB& store, const ScreenshotList& list)
{
    std::vector<qint64> ids;
    for (qsizetype position = 0; position < std::min(list.size(), ScreenshotsListManager::firstPageRows); ++position) {
        const ScreenshotRow& row = list.row(position);
        if (!row.description && !row.textSnippet) {
            ids.push_back(row.id);
        }
    }
    return ids.empty() ? QHash<qint64, QString>()
                       : store.screenshotTextSnippets(ids).value_or(QHash<qint64, QString>());
}

/// Whether the first part `page` of a list, `change` from the list shown, shows nothing that list does not: it is
/// empty, or the list shown begins with its rows as they are.
bool showsNothingNew(const ScreenshotList& page, const ScreenshotListChange& change)
{
    const std::vector<ScreenshotListChange::Run>& runs = change.runs;
    return page.isEmpty() ||
           (change.changedRows.empty() && runs.size() <= 2 &&
            runs.front().kind == ScreenshotListChange::Run::Kind::kept && runs.front().count == page.size() &&
            (runs.size() == 1 || runs.back().kind == ScreenshotListChange::Run::Kind::removed));
}

} // namespace

QFutureWatcher<ScreenshotsListManager::Reloaded>* ScreenshotsListManager::watchReload(quint64 ticket, Subject subject)
{
    // The watcher belongs to the manager: once the manager is gone, no result is delivered. A load gives one
    // result, its list, or two: the first part of it, then the whole.
    auto* watcher = new QFutureWatcher<Reloaded>(this);
    connect(watcher, &QFutureWatcherBase::resultReadyAt, this, [this, watcher, ticket](int index) {
        Reloaded result = watcher->future().resultAt(index);
        if (result.firstPage) {
            showFirstPage(ticket, result);
        }
    });
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ticket, subject] {
        const QFuture<Reloaded> future = watcher->future();
        Reloaded reloaded = future.resultAt(future.resultCount() - 1);
        watcher->deleteLater();
        finishReload(ticket, reloaded, subject);
    });
    return watcher;
}

void ScreenshotsListManager::startReload(Subject subject)
{
    if (rowsReleased_) {
        // Read when the list is shown again; its subject is sent once that list is in place.
        ++lastTicket_;
        if (subject != Subject::none) {
            waitingForList_.emplace_back(lastTicket_, [this, subject] { sendSubject(subject); });
        }
        return;
    }
    const quint64 ticket = ++lastTicket_;
    ++reloadsInFlight_;
    auto* watcher = watchReload(ticket, subject);
    latestTicket_->store(ticket, std::memory_order_release);
    // A first part is shown only for a list of other filters (or the first list): one that stands in for a
    // list of the same filters, a reload after a write, would lose the rows below it and the place in them.
    const Filters filters = currentFilters();
    const bool paged = !listLoaded_ || !reloadedFilters_ || !(filters == *reloadedFilters_);
    reloadedFilters_ = std::make_unique<Filters>(filters);
    // The list's rows are values that no thread changes: the pool reads those of the list shown now.
    watcher->setFuture(QtConcurrent::run(
        QThreadPool::globalInstance(),
        [cache = cache_, store = store_, filters, latest = latestTicket_, ticket, paged, base = screenshots_,
         records = records_, released = releasedAt_](QPromise<Reloaded>& promise) mutable {
            // The rows it read and the list it was told against are let go here, before the manager learns that
            // the load has ended: from then on only its result holds them, and a result dropped is all of them.
            const auto letGo = qScopeGuard([&] {
                cache.reset();
                base = ScreenshotList();
            });
            // Keystrokes start reloads faster than a large library answers them:
            // one whose turn comes after a later one started would only hold the
            // connection while the list the user wants waits behind it.
            if (latest->load(std::memory_order_acquire) != ticket) {
                Reloaded superseded;
                superseded.loaded.superseded = true;
                promise.addResult(std::move(superseded));
                return;
            }
            const auto showFirstPart = [&](Reloaded page) { promise.addResult(std::move(page)); };
            Reloaded reloaded = loadReloaded(*cache, store, filters, base, records,
                                             paged ? std::function<void(Reloaded)>(showFirstPart) : nullptr);
            if (ticket <= released->load(std::memory_order_acquire)) {
                // The list let go of its rows while this load read them, and drops its result: the rows go here,
                // before the manager hears that the load has ended and gives their memory back.
                reloaded = Reloaded();
                reloaded.loaded.superseded = true;
            }
            promise.addResult(std::move(reloaded));
        }));
}

ScreenshotsListManager::Reloaded ScreenshotsListManager::loadReloaded(
    RowCache& cache, const std::shared_ptr<ScreenshotsDB>& store, const Filters& filters, ScreenshotList shown,
    const std::shared_ptr<ScreenshotRecords>& records, const std::function<void(Reloaded)>& showFirstPart)
{
    bool firstShown = false;
    const auto showFirst = [&](Loaded first) {
        Reloaded page;
        page.firstPage = true;
        page.loaded.everythingRead = first.everythingRead;
        page.list = ScreenshotList(std::move(first.table), std::move(first.positions), records);
        page.base = shown;
        page.change = ScreenshotListChange::between(shown, page.list);
        // A list that begins with these rows already shows them: it stays until the whole list comes.
        if (showsNothingNew(page.list, page.change)) {
            return;
        }
        shown = page.list;
        firstShown = true;
        page.snippets = firstTextSnippets(*store, page.list);
        showFirstPart(std::move(page));
    };
    Reloaded reloaded;
    reloaded.loaded = load(cache, store, filters,
                           showFirstPart ? std::function<void(Loaded)>(showFirst) : std::function<void(Loaded)>());
    reloaded.list = ScreenshotList(reloaded.loaded.table, reloaded.loaded.positions, records);
    // The whole list is told against its first part, which is shown by then.
    reloaded.base = shown;
    reloaded.change = ScreenshotListChange::between(shown, reloaded.list);
    if (!firstShown) {
        reloaded.snippets = firstTextSnippets(*store, reloaded.list);
    }
    return reloaded;
}

void ScreenshotsListManager::showFirstPage(quint64 ticket, Reloaded& page)
{
    if (ticket <= shownTicket_ || ticket <= publishedTicket_ || ticket <= releasedTicket_) {
        return;
    }
    shownTicket_ = ticket;
    takeTextSnippets(ticket, page);
    if (page.base.sharesRowsWith(screenshots_)) {
        publish(std::move(page.list), std::move(page.change));
    } else {
        publish(std::move(page.list));
    }
}

void ScreenshotsListManager::finishReload(quint64 ticket, Reloaded& reloaded, Subject subject)
{
    --reloadsInFlight_;
    if (reloaded.loaded.superseded || ticket <= releasedTicket_) {
        // The list of a later reload stands for this one: its subject is sent once that list is in place.
        if (lastTicket_ <= publishedTicket_) {
            sendSubject(subject);
        } else if (subject != Subject::none) {
            waitingForList_.emplace_back(lastTicket_, [this, subject] { sendSubject(subject); });
        }
        if (rowsReleased_ && reloadsInFlight_ == 0) {
            // The rows of a load that ended after the list let go of its rows are gone by now (the load dropped
            // them): they go back to the system, with the pages it read.
            QThreadPool::globalInstance()->start([store = store_] {
                store->releaseCaches();
                returnFreedMemoryToSystem();
            });
        }
        return;
    }
    if (ticket > publishedTicket_ && ticket >= shownTicket_) {
        publishedTicket_ = shownTicket_ = ticket;
        takeTextSnippets(ticket, reloaded);
        // An unchanged table is shared from load to load, so the same rows of it are the same list; a changed
        // row makes a new table, and so a new list.
        if (!(reloaded.list == screenshots_) || !listLoaded_) { // the first list is published even when empty
            // Worked out against the list shown when the reload started (or its first part); another one since
            // is compared here.
            if (reloaded.base.sharesRowsWith(screenshots_)) {
                publish(std::move(reloaded.list), std::move(reloaded.change));
            } else {
                publish(std::move(reloaded.list));
            }
        }
        releaseEdited(ticket);
    } else if (ticket < shownTicket_ && shownTicket_ > publishedTicket_ && subject != Subject::none) {
        // The first part of a later list is shown: the subject waits for that list.
        waitingForList_.emplace_back(shownTicket_, [this, subject] { sendSubject(subject); });
        subject = Subject::none;
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

namespace {

/// Text starts held at most: many screenfuls of rows.
constexpr qsizetype heldTextSnippets = 4096;

} // namespace

void ScreenshotsListManager::takeTextSnippets(quint64 ticket, const Reloaded& reloaded)
{
    if (reloaded.loaded.everythingRead && ticket > snippetsLetGoAt_) {
        // Read before the library was read anew: asked for again when painted.
        snippetsLetGoAt_ = ticket;
        ++snippetsGeneration_;
        snippets_.clear();
        snippetsAsked_.clear();
    }
    if (snippets_.size() + reloaded.snippets.size() > heldTextSnippets) {
        snippets_.clear();
    }
    snippets_.insert(reloaded.snippets);
}

std::optional<QString> ScreenshotsListManager::listedTextSnippet(qint64 id) const
{
    const auto found = snippets_.constFind(id);
    return found == snippets_.constEnd() ? std::nullopt : std::optional<QString>(*found);
}

void ScreenshotsListManager::loadTextSnippets(const std::vector<qint64>& ids)
{
    std::vector<qint64> asked;
    for (const qint64 id : ids) {
        if (!snippets_.contains(id) && !snippetsAsked_.contains(id)) {
            snippetsAsked_.insert(id);
            asked.push_back(id);
        }
    }
    if (asked.empty()) {
        return;
    }
    auto* watcher = new QFutureWatcher<QHash<qint64, QString>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, asked, generation = snippetsGeneration_] {
        watcher->deleteLater();
        if (generation == snippetsGeneration_) {
            const QHash<qint64, QString> read = watcher->future().result();
            // The rows shown now asked last: the text starts of others are let go of first.
            if (snippets_.size() + read.size() > heldTextSnippets) {
                snippets_.clear();
            }
            for (const qint64 id : asked) {
                snippetsAsked_.remove(id);
                // A screenshot gone since holds nothing: its row is not listed for long.
                snippets_.insert(id, read.value(id));
            }
        }
        emit textSnippetsLoaded(asked);
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [store = store_, asked] {
        return store->screenshotTextSnippets(asked).value_or(QHash<qint64, QString>());
    }));
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
    if (capturesWriting_ > 0) {
        waitingForCaptures_.push_back(std::move(done));
        return;
    }
    if (lastTicket_ <= publishedTicket_) {
        done();
        return;
    }
    waitingForList_.emplace_back(lastTicket_, std::move(done));
}

void ScreenshotsListManager::discardCapturedImage(const CapturedScreenshotInfo& info)
{
    const QUrl url(info.screenshotPath);
    if (url.isLocalFile()) {
        QFile::remove(url.toLocalFile());
    }
    (void)store().forgetNewImage(info.screenshotPath);
}

void ScreenshotsListManager::setRecognizedText(qint64 screenshotId, const QString& text)
{
    // An empty text is stored too: the row no longer awaits one.
    if (!store().updateScreenshotText(screenshotId, text) || text.isEmpty()) {
        return;
    }
    if (const ScreenshotPtr record = records_->held(screenshotId)) {
        record->takeRecognizedText(text);
    }
    // The listed row takes its start, and a search under way may now match it.
    startReload(Subject::none);
}

void ScreenshotsListManager::deleteScreenshots(const std::set<qsizetype>& positions)
{
    const ScreenshotList before = screenshots_;
    std::vector<qsizetype> deleted;
    for (const qsizetype position : positions) {
        if (position < 0 || position >= before.size()) {
            continue;
        }
        const ScreenshotPtr screenshot = before.at(position);
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
        (void)store().deleteScreenshot(screenshot->id());
        edited_.remove(screenshot->id());
        records_->forget(screenshot->id());
        deleted.push_back(position);
    }
    if (deleted.empty()) {
        return;
    }
    setScreenshots(before.without(deleted));
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
