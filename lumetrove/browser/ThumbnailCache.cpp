#include "lumetrove/browser/ThumbnailCache.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/platform/ImageUtilities.h"

#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QtMath>

namespace lumetrove {

namespace {

/// Enough for a few screens of rows: 64 MB of 200 × 140 images is about 570 of them.
constexpr qsizetype cacheBudgetKilobytes = 64 * 1024;

qsizetype costOf(const QImage& image)
{
    return std::max<qsizetype>(1, image.sizeInBytes() / 1024);
}

/// A thumbnail file is made for the frame, at the pixel ratio of the screen it was captured on: a file of
/// the frame's shape scaled by some ratio is that render, shown at that ratio. Any other that does not fit
/// the frame is drawn again by the capture's own thumbnail rule, so that every row shows the same kind of
/// picture.
QImage fitToFrame(QImage image)
{
    if (image.width() <= rowThumbnailFrame.width() && image.height() <= rowThumbnailFrame.height()) {
        return image;
    }
    const qreal ratio = qreal(image.width()) / rowThumbnailFrame.width();
    if (image.height() == qCeil(rowThumbnailFrame.height() * ratio)) {
        image.setDevicePixelRatio(ratio);
        return image;
    }
    return renderThumbnail(image, rowThumbnailFrame.width(), QSizeF(rowThumbnailFrame));
}

} // namespace

LoadedThumbnail loadThumbnailFile(qint64 screenshotId, const std::optional<QDateTime>& knownFileTime)
{
    LoadedThumbnail loaded;
    loaded.screenshotId = screenshotId;
    const std::optional<QString> path = thumbnailFilePath(screenshotId);
    if (!path) {
        return loaded;
    }
    const QFileInfo info(*path);
    if (info.exists()) {
        loaded.fileTime = info.lastModified();
    }
    if (loaded.fileTime == knownFileTime) {
        loaded.unchanged = true;
        return loaded;
    }
    if (loaded.fileTime) {
        QImageReader reader(*path);
        loaded.image = fitToFrame(reader.read());
    }
    return loaded;
}

ThumbnailCache::ThumbnailCache(QObject* parent) : QObject(parent)
{
    entries_.setMaxCost(cacheBudgetKilobytes);
    // Its own small pool, so that thumbnails never hold up the list reloads on the global pool.
    pool_.setMaxThreadCount(2);
}

ThumbnailCache::~ThumbnailCache()
{
    pool_.clear();
    pool_.waitForDone();
}

QImage ThumbnailCache::thumbnail(qint64 screenshotId)
{
    Entry* entry = entries_.object(screenshotId);
    if (entry == nullptr) {
        startLoad(screenshotId, std::nullopt);
        return {};
    }
    if (entry->generation != generation_) {
        startLoad(screenshotId, entry->fileTime);
    }
    return entry->image;
}

void ThumbnailCache::revalidate(qint64 screenshotId)
{
    // Generations count from 1.
    if (Entry* entry = entries_.object(screenshotId)) {
        entry->generation = 0;
    }
    if (loading_.contains(screenshotId)) {
        stale_.insert(screenshotId);
    }
}

void ThumbnailCache::clear()
{
    pool_.clear();
    entries_.clear();
    loading_.clear();
    stale_.clear();
    ++epoch_;
}

void ThumbnailCache::waitForLoads()
{
    pool_.waitForDone();
}

void ThumbnailCache::startLoad(qint64 screenshotId, const std::optional<QDateTime>& knownFileTime)
{
    if (loading_.contains(screenshotId)) {
        return;
    }
    loading_.insert(screenshotId);
    const quint64 generation = generation_;
    // The destructor drains the pool, so the cache outlives every load; a result queued to a cache that
    // is gone by then is dropped by Qt with the cache's posted events.
    pool_.start([this, screenshotId, knownFileTime, generation, epoch = epoch_] {
        LoadedThumbnail loaded = loadThumbnailFile(screenshotId, knownFileTime);
        QMetaObject::invokeMethod(
            this,
            [this, loaded = std::move(loaded), generation, epoch] {
                if (epoch == epoch_) {
                    finishLoad(loaded, generation);
                }
            },
            Qt::QueuedConnection);
    });
}

void ThumbnailCache::finishLoad(const LoadedThumbnail& loaded, quint64 generation)
{
    loading_.remove(loaded.screenshotId);
    // A file written again while it was read is read once more when the row paints again, which it does.
    const bool stale = stale_.remove(loaded.screenshotId);
    if (stale) {
        generation = 0;
    }
    if (loaded.unchanged) {
        if (Entry* entry = entries_.object(loaded.screenshotId)) {
            entry->generation = generation;
        }
        if (stale) {
            emit thumbnailLoaded(loaded.screenshotId);
        }
        return;
    }
    entries_.insert(loaded.screenshotId, new Entry{loaded.fileTime, loaded.image, generation}, costOf(loaded.image));
    emit thumbnailLoaded(loaded.screenshotId);
}

} // namespace lumetrove
