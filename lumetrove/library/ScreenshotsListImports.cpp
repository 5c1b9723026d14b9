#include "lumetrove/library/ScreenshotsListImports.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/DesktopApplications.h"

#include <QFile>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <utility>
#include <vector>

namespace lumetrove {

namespace {

/// Beyond this many rows a batch waits for the next: a transaction holds the connection, which the loads and
/// the main thread's reads wait for, for as long as it runs.
constexpr std::size_t importBatchRows = 64;
/// A batch starts this long after the one before at the soonest, unless it is full: each batch costs a commit, a
/// reload and a new list in the window, and files of an import come faster than that.
constexpr int importBatchIntervalMs = 150;

/// One batch as the writer thread writes it: the rows of one folder, and the texts recognised since the batch
/// before.
struct ImportBatchRows {
    std::vector<NewScreenshot> rows{};
    std::vector<std::optional<QByteArray>> thumbnails{};
    /// The process that owned each captured window: the writer looks its application up.
    std::vector<std::optional<qint64>> owners{};
    std::optional<qint64> folderId{};
    std::vector<std::pair<qint64, QString>> texts{};
};

/// What the writer thread did with one batch.
struct ImportBatchWritten {
    /// The id of each row, none for a row that could not be kept.
    std::vector<std::optional<qint64>> ids;
    /// Why each row that could not be kept was not (empty for the others).
    std::vector<QString> refusals;
    std::vector<bool> textsKept;
};

/// Rows refused while the library was being repaired in the background (the damage they met is what is being
/// repaired) are written again once the repair has ended: the rebuilt library leaves an image whose capture is
/// under way to that capture, so a row given up here would be missing until the next start.
void retryAfterRepair(ScreenshotsDB& store, const ImportBatchRows& batch, bool repairing,
                      std::vector<std::optional<qint64>>& ids, std::vector<QString>& refusals)
{
    std::vector<std::size_t> refused;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!ids[i]) {
            refused.push_back(i);
        }
    }
    if (refused.empty() || !(repairing || store.repairingInBackground())) {
        return;
    }
    store.waitForBackgroundRepair();
    std::vector<NewScreenshot> rows;
    for (const std::size_t i : refused) {
        rows.push_back(batch.rows[i]);
    }
    const std::vector<StoreResult<qint64>> again = store.insertScreenshots(rows, batch.folderId);
    for (std::size_t k = 0; k < refused.size() && k < again.size(); ++k) {
        if (again[k]) {
            ids[refused[k]] = *again[k];
            refusals[refused[k]].clear();
        } else {
            refusals[refused[k]] = again[k].error().plainDescription();
        }
    }
}

/// Writes a batch on the writer thread: its rows in one transaction, each image made its owner's alone and
/// given its thumbnail, then the texts.
ImportBatchWritten writeImportBatch(ScreenshotsDB& store, ImportBatchRows batch)
{
    for (std::size_t i = 0; i < batch.rows.size(); ++i) {
        if (batch.owners[i]) {
            batch.rows[i].capturedAppBundleId = desktopEntryIdOfProcess(*batch.owners[i]);
        }
    }
    ImportBatchWritten written;
    if (!batch.rows.empty()) {
        const bool repairing = store.repairingInBackground();
        for (const StoreResult<qint64>& id : store.insertScreenshots(batch.rows, batch.folderId)) {
            written.ids.push_back(id ? std::optional<qint64>(*id) : std::nullopt);
            written.refusals.push_back(id ? QString() : id.error().plainDescription());
        }
        retryAfterRepair(store, batch, repairing, written.ids, written.refusals);
    }
    for (std::size_t i = 0; i < batch.rows.size(); ++i) {
        if (!written.ids[i]) {
            continue;
        }
        // However the import wrote it, the image is its owner's alone.
        const QUrl image(batch.rows[i].path);
        if (image.isLocalFile()) {
            restrictFileToOwner(image.toLocalFile());
        }
        const std::optional<QString> path = thumbnailFilePath(*written.ids[i]);
        if (path && batch.thumbnails[i]) {
            QFile thumbnail(*path);
            if (thumbnail.open(QIODevice::WriteOnly | QIODevice::Truncate, QFile::ReadOwner | QFile::WriteOwner)) {
                thumbnail.write(*batch.thumbnails[i]); // a thumbnail that cannot be written is simply missing
            }
        }
    }
    if (!batch.texts.empty()) {
        written.textsKept = store.updateScreenshotTexts(batch.texts);
    }
    return written;
}

} // namespace

void ScreenshotsListManager::addImportedScreenshots(const QList<CapturedScreenshotInfo>& infos,
                                                    std::function<void()> stored,
                                                    std::function<void(const SkippedImport&)> notKept)
{
    // The folder is the one selected when the file came, as for a capture.
    const std::optional<qint64> folderId =
        folderFilter_ && !folderFilter_->isSmartFolder ? std::optional(folderFilter_->id) : std::nullopt;
    for (qsizetype i = 0; i < infos.size(); ++i) {
        const CapturedScreenshotInfo& info = infos[i];
        importsWaiting_.push_back(ImportWrite{NewScreenshot{.name = info.screenshotFilename,
                                                            .path = info.screenshotPath,
                                                            .text = info.recognizedText,
                                                            .wasImported = true,
                                                            .textToCome = info.pendingRecognizedText.has_value()},
                                              folderId, info.thumbnail, info.pendingRecognizedText,
                                              i + 1 == infos.size() ? stored : nullptr});
        importsWaiting_.back().notKept = notKept;
    }
    if (infos.isEmpty() && stored) {
        stored();
    }
    writeImports();
}

void ScreenshotsListManager::addScreenshot(const CapturedScreenshotInfo& info, bool wasImported,
                                           std::function<void(qint64)> kept)
{
    std::optional<QString> appName;
    std::optional<qint64> ownerPid;
    std::optional<QString> assistantTask;
    if (const std::optional<WindowDetails>& details = info.windowDetails) {
        appName = details->applicationName;
        ownerPid = details->applicationOwnerPID;
        assistantTask = details->aiAssistantTask;
    }
    // A grab named after its default name already is inserted under that name, with the time it was made for.
    const bool named = !wasImported && info.createdAt.has_value();
    const std::optional<qint64> folderId =
        folderFilter_ && !folderFilter_->isSmartFolder ? std::optional(folderFilter_->id) : std::nullopt;
    importsWaiting_.push_back(
        ImportWrite{.row = NewScreenshot{.name = named ? screenshotDefaultName(screenshotCreatedDate(info.createdAt))
                                                       : info.screenshotFilename,
                                         .path = info.screenshotPath,
                                         .text = info.recognizedText,
                                         .capturedAppName = appName,
                                         .isAIAssistantTask = assistantTask.has_value(),
                                         .aiAssistantTask = assistantTask,
                                         .wasImported = wasImported,
                                         .createdAt = named ? info.createdAt : std::nullopt,
                                         .textToCome = info.pendingRecognizedText.has_value()},
                    .folderId = folderId,
                    .thumbnail = info.thumbnail,
                    .text = info.pendingRecognizedText,
                    .ownerPid = ownerPid,
                    .captured = true,
                    .renamed = !wasImported && !named,
                    .kept = std::move(kept)});
    ++capturesWriting_;
    writeImports();
}

void ScreenshotsListManager::queueImportedText(qint64 id, const QString& text)
{
    textsWaiting_.emplace_back(id, text);
    writeImports();
}

void ScreenshotsListManager::writeImports()
{
    if (writingImports_ || (importsWaiting_.empty() && textsWaiting_.empty()) || !importBatchDue()) {
        return;
    }
    importTimer_->stop();
    lastImportBatch_.start();
    writingImports_ = true;
    std::vector<ImportWrite> batch = takeImportBatch();
    ImportBatchRows rows{.folderId = batch.empty() ? std::nullopt : batch.front().folderId};
    for (const ImportWrite& write : batch) {
        rows.rows.push_back(write.row);
        rows.thumbnails.push_back(write.thumbnail);
        rows.owners.push_back(write.ownerPid);
    }
    rows.texts = std::exchange(textsWaiting_, {});
    auto* watcher = new QFutureWatcher<ImportBatchWritten>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, batch = std::move(batch), texts = rows.texts] {
                watcher->deleteLater();
                writingImports_ = false;
                const ImportBatchWritten written = watcher->future().takeResult();
                followWrittenRows(batch, written.ids);
                const bool textShown = showWrittenTexts(texts, written.textsKept);
                if (!batch.empty() || textShown) {
                    startReload(Subject::none);
                }
                tellBatchWritten(batch, written.ids, written.refusals);
                writeImports();
            });
    watcher->setFuture(QtConcurrent::run(importWriter_.get(), [store = store_, rows = std::move(rows)]() mutable {
        return writeImportBatch(*store, std::move(rows));
    }));
}

bool ScreenshotsListManager::importBatchDue()
{
    if (!importWriter_) {
        importWriter_ = std::make_unique<QThreadPool>();
        importWriter_->setMaxThreadCount(1);
        importTimer_ = new QTimer(this);
        importTimer_->setSingleShot(true);
        connect(importTimer_, &QTimer::timeout, this, &ScreenshotsListManager::writeImports);
        return true;
    }
    const qint64 wait = importBatchIntervalMs - lastImportBatch_.elapsed();
    if (wait > 0 && importsWaiting_.size() < importBatchRows &&
        std::none_of(importsWaiting_.begin(), importsWaiting_.end(),
                     [](const ImportWrite& write) { return write.captured; })) {
        if (!importTimer_->isActive()) {
            importTimer_->start(static_cast<int>(wait));
        }
        return false;
    }
    return true;
}

std::vector<ScreenshotsListManager::ImportWrite> ScreenshotsListManager::takeImportBatch()
{
    // One folder per batch: the rows of a batch share their link.
    std::vector<ImportWrite> batch;
    const std::optional<qint64> folderId = importsWaiting_.empty() ? std::nullopt : importsWaiting_.front().folderId;
    auto next = importsWaiting_.begin();
    while (next != importsWaiting_.end() && batch.size() < importBatchRows && next->folderId == folderId) {
        batch.push_back(std::move(*next++));
    }
    importsWaiting_.erase(importsWaiting_.begin(), next);
    return batch;
}

void ScreenshotsListManager::followWrittenRows(const std::vector<ImportWrite>& batch,
                                               const std::vector<std::optional<qint64>>& ids)
{
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const std::optional<qint64>& id = ids[i];
        if (id && batch[i].text) {
            auto* text = new QFutureWatcher<QString>(this);
            connect(text, &QFutureWatcherBase::finished, this, [this, text, id = *id] {
                text->deleteLater();
                queueImportedText(id, text->result());
            });
            text->setFuture(*batch[i].text);
        }
        if (id && batch[i].renamed) {
            // Renamed through a record of its own, before any list holds one: the list made next reads the
            // row as it is after the rename.
            if (std::optional<ScreenshotRow> row = store().screenshotRow(*id)) {
                const ScreenshotPtr record = Screenshot::fromRow(std::move(*row), store_);
                record->renameScreenshotFile(true); // saves the name with the move, in one write
            }
        }
    }
}

bool ScreenshotsListManager::showWrittenTexts(const std::vector<std::pair<qint64, QString>>& texts,
                                              const std::vector<bool>& kept)
{
    bool textShown = false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (kept[i] && !texts[i].second.isEmpty()) {
            if (const ScreenshotPtr record = records_->held(texts[i].first)) {
                record->takeRecognizedText(texts[i].second);
            }
            textShown = true;
        }
    }
    return textShown;
}

void ScreenshotsListManager::tellBatchWritten(const std::vector<ImportWrite>& batch,
                                              const std::vector<std::optional<qint64>>& ids,
                                              const std::vector<QString>& refusals)
{
    int captures = 0;
    bool imported = false;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch[i].captured) {
            imported = true;
            if (!ids[i] && batch[i].notKept) {
                // The file is in the library's folder, and the next start lists it from there.
                const QString reason = i < refusals.size() && !refusals[i].isEmpty()
                                           ? refusals[i]
                                           : QStringLiteral("the library could not be written");
                batch[i].notKept(
                    {QUrl(batch[i].row.path).fileName(),
                     QStringLiteral("it was saved but not added to the library (%1); it is listed at the next "
                                    "start once there is room")
                         .arg(reason)});
            }
            continue;
        }
        ++captures;
        if (ids[i] && batch[i].thumbnail) {
            emit thumbnailWritten(*ids[i]);
        }
        if (ids[i] && batch[i].kept) {
            batch[i].kept(*ids[i]);
        }
    }
    if (imported) {
        emit thumbnailsChanged();
    }
    for (const ImportWrite& write : batch) {
        if (write.stored) {
            write.stored();
        }
    }
    // The reload started before holds every capture written so far.
    if (captures > 0 && (capturesWriting_ -= captures) == 0) {
        for (std::function<void()>& done : std::exchange(waitingForCaptures_, {})) {
            whenListed(std::move(done));
        }
    }
}

} // namespace lumetrove
