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

/// What the writer thread did with one batch.
struct ImportBatchWritten {
    std::vector<StoreResult<qint64>> ids;
    std::vector<bool> textsKept;
};

} // namespace

void ScreenshotsListManager::addImportedScreenshots(const QList<CapturedScreenshotInfo>& infos,
                                                    std::function<void()> stored)
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
    if (writingImports_ || (importsWaiting_.empty() && textsWaiting_.empty())) {
        return;
    }
    if (!importWriter_) {
        importWriter_ = std::make_unique<QThreadPool>();
        importWriter_->setMaxThreadCount(1);
        importTimer_ = new QTimer(this);
        importTimer_->setSingleShot(true);
        connect(importTimer_, &QTimer::timeout, this, &ScreenshotsListManager::writeImports);
    } else if (const qint64 wait = importBatchIntervalMs - lastImportBatch_.elapsed();
               wait > 0 && importsWaiting_.size() < importBatchRows &&
               std::none_of(importsWaiting_.begin(), importsWaiting_.end(),
                            [](const ImportWrite& write) { return write.captured; })) {
        if (!importTimer_->isActive()) {
            importTimer_->start(static_cast<int>(wait));
        }
        return;
    }
    importTimer_->stop();
    lastImportBatch_.start();
    writingImports_ = true;
    // One folder per batch: the rows of a batch share their link.
    std::vector<ImportWrite> batch;
    const std::optional<qint64> folderId = importsWaiting_.empty() ? std::nullopt : importsWaiting_.front().folderId;
    auto next = importsWaiting_.begin();
    while (next != importsWaiting_.end() && batch.size() < importBatchRows && next->folderId == folderId) {
        batch.push_back(std::move(*next++));
    }
    importsWaiting_.erase(importsWaiting_.begin(), next);
    std::vector<NewScreenshot> rows;
    std::vector<std::optional<QByteArray>> thumbnails;
    std::vector<std::optional<qint64>> owners;
    for (const ImportWrite& write : batch) {
        rows.push_back(write.row);
        thumbnails.push_back(write.thumbnail);
        owners.push_back(write.ownerPid);
    }
    std::vector<std::pair<qint64, QString>> texts = std::exchange(textsWaiting_, {});
    auto* watcher = new QFutureWatcher<ImportBatchWritten>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, batch = std::move(batch), texts]() mutable {
        watcher->deleteLater();
        writingImports_ = false;
        const ImportBatchWritten written = watcher->future().takeResult();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const StoreResult<qint64>& id = written.ids[i];
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
        bool textShown = false;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (written.textsKept[i] && !texts[i].second.isEmpty()) {
                if (const ScreenshotPtr record = records_->held(texts[i].first)) {
                    record->takeRecognizedText(texts[i].second);
                }
                textShown = true;
            }
        }
        if (!batch.empty() || textShown) {
            startReload(Subject::none);
        }
        int captures = 0;
        bool imported = false;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (!batch[i].captured) {
                imported = true;
                continue;
            }
            ++captures;
            if (written.ids[i] && batch[i].thumbnail) {
                emit thumbnailWritten(*written.ids[i]);
            }
            if (written.ids[i] && batch[i].kept) {
                batch[i].kept(*written.ids[i]);
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
        // The reload started above holds every capture written so far.
        if (captures > 0 && (capturesWriting_ -= captures) == 0) {
            for (std::function<void()>& done : std::exchange(waitingForCaptures_, {})) {
                whenListed(std::move(done));
            }
        }
        writeImports();
    });
    watcher->setFuture(QtConcurrent::run(importWriter_.get(), [store = store_, rows = std::move(rows),
                                                               thumbnails = std::move(thumbnails), folderId,
                                                               owners = std::move(owners),
                                                               texts = std::move(texts)]() mutable {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (owners[i]) {
                rows[i].capturedAppBundleId = desktopEntryIdOfProcess(*owners[i]);
            }
        }
        ImportBatchWritten written;
        if (!rows.empty()) {
            written.ids = store->insertScreenshots(rows, folderId);
        }
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!written.ids[i]) {
                continue;
            }
            // However the import wrote it, the image is its owner's alone.
            const QUrl image(rows[i].path);
            if (image.isLocalFile()) {
                restrictFileToOwner(image.toLocalFile());
            }
            const std::optional<QString> path = thumbnailFilePath(*written.ids[i]);
            if (path && thumbnails[i]) {
                QFile thumbnail(*path);
                if (thumbnail.open(QIODevice::WriteOnly | QIODevice::Truncate, QFile::ReadOwner | QFile::WriteOwner)) {
                    thumbnail.write(*thumbnails[i]); // a thumbnail that cannot be written is simply missing
                }
            }
        }
        if (!texts.empty()) {
            written.textsKept = store->updateScreenshotTexts(texts);
        }
        return written;
    }));
}

} // namespace lumetrove
