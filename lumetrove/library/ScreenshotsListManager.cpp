#include "lumetrove/library/ScreenshotsListManager.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/DesktopApplications.h"
#include "lumetrove/platform/Log.h"

#include <QFile>
#include <QFuture>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace lumetrove {

struct ScreenshotsListManager::Filters {
    std::optional<QString> searchText;
    std::optional<Folder> folder;
    std::optional<FolderSection> period;
};

ScreenshotsListManager::ScreenshotsListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QObject(parent), store_(store ? std::move(store) : ScreenshotsDB::shared())
{
    publishedTicket_ = ++lastTicket_;
    screenshots_ = loadScreenshots();
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
        std::optional<sqlite::RowIterator> query = store.queryScreenshots(searchText, folder, period);
        if (!query) {
            return;
        }
        const ScreenshotRowReader reader(*query->sharedColumnNames());
        while (const std::optional<sqlite::Row> values = query->failableNext()) {
            if (std::optional<ScreenshotRow> row = reader.read(*values)) {
                rows.push_back(std::move(*row));
            }
        }
        // Each row's folder, from one query over the links rather than one query per row.
        const QHash<qint64, qint64> folders = store.folderIdsOfScreenshots();
        for (ScreenshotRow& row : rows) {
            const auto found = folders.constFind(row.id);
            row.folderId = found == folders.constEnd() ? std::nullopt : std::optional<qint64>(*found);
        }
    });
    if (!loaded) {
        rows.clear();
    }
    return rows;
}

QList<ScreenshotPtr> ScreenshotsListManager::makeScreenshots(const std::vector<ScreenshotRow>& rows)
{
    QList<ScreenshotPtr> screenshots;
    screenshots.reserve(static_cast<qsizetype>(rows.size()));
    for (const ScreenshotRow& row : rows) {
        ScreenshotPtr& record = records_[row.id];
        if (!record || !record->holds(row)) {
            record = Screenshot::fromRow(row, store_);
        }
        screenshots.push_back(record);
    }
    return screenshots;
}

QList<ScreenshotPtr> ScreenshotsListManager::loadScreenshots()
{
    const Filters filters = currentFilters();
    return makeScreenshots(loadScreenshotRows(store(), filters.searchText, filters.folder, filters.period));
}

void ScreenshotsListManager::startReload(Subject subject)
{
    const quint64 ticket = ++lastTicket_;
    ++reloadsInFlight_;
    // The watcher belongs to the manager: once the manager is gone, no result is delivered.
    auto* watcher = new QFutureWatcher<std::vector<ScreenshotRow>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ticket, subject] {
        std::vector<ScreenshotRow> rows = watcher->future().takeResult();
        watcher->deleteLater();
        finishReload(ticket, rows, subject);
        // 100k rows of texts take a while to free: the pool frees them, not the window's thread.
        QThreadPool::globalInstance()->start(
            [rows = std::make_shared<std::vector<ScreenshotRow>>(std::move(rows))]() mutable { rows.reset(); });
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [store = store_, filters = currentFilters()] {
        return loadScreenshotRows(*store, filters.searchText, filters.folder, filters.period);
    }));
}

void ScreenshotsListManager::finishReload(quint64 ticket, const std::vector<ScreenshotRow>& rows, Subject subject)
{
    --reloadsInFlight_;
    if (ticket > publishedTicket_) {
        publishedTicket_ = ticket;
        bool same = static_cast<qsizetype>(rows.size()) == screenshots_.size();
        for (qsizetype index = 0; same && index < screenshots_.size(); ++index) {
            const ScreenshotRow& row = rows[static_cast<std::size_t>(index)];
            same = row.id == screenshots_[index]->id() && row.folderId == screenshots_[index]->folderId();
        }
        if (!same) {
            publish(makeScreenshots(rows));
        }
    }
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
                                               .wasImported = wasImported});
    if (id) {
        if (folderFilter_ && !folderFilter_->isSmartFolder) {
            store().insertFolderScreenshot(*id, folderFilter_->id);
        }
        if (const std::optional<QString> path = info.thumbnail ? thumbnailFilePath(*id) : std::nullopt) {
            QFile thumbnail(*path);
            if (thumbnail.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                thumbnail.write(*info.thumbnail); // a thumbnail that cannot be written is simply missing
            }
        }
    }
    if (id && info.pendingRecognizedText) {
        auto* watcher = new QFutureWatcher<QString>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, id = *id] {
            watcher->deleteLater();
            setRecognizedText(id, watcher->result());
        });
        watcher->setFuture(*info.pendingRecognizedText);
    }
    setScreenshots(loadScreenshots());
    if (!wasImported && id) {
        for (const ScreenshotPtr& screenshot : screenshots_) {
            if (screenshot->id() == *id) {
                screenshot->renameScreenshotFile(true);
                screenshot->save();
                break;
            }
        }
    }
}

void ScreenshotsListManager::setRecognizedText(qint64 screenshotId, const QString& text)
{
    if (text.isEmpty() || !store().updateScreenshotText(screenshotId, text)) {
        return; // the row keeps its empty text
    }
    if (const ScreenshotPtr record = records_.value(screenshotId)) {
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
        if (const std::optional<QString> error = store().recordDelete(screenshot->id(), path)) {
            systemLog(QStringLiteral("Failed to move screenshot to trash: ") + *error);
            continue;
        }
        screenshot->deleteFiles();
        store().deleteScreenshot(screenshot->id());
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
