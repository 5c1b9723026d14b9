#pragma once

#include <QCache>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QThreadPool>
#include <optional>

namespace lumetrove {

/// The frame in which a list row shows its thumbnail; thumbnail files are rendered for it.
inline constexpr QSize rowThumbnailFrame{200, 140};

/// A thumbnail file read for a row: the image fitted to the row's frame, and the file's modification time.
struct LoadedThumbnail {
    qint64 screenshotId = 0;
    /// None when the file does not exist.
    std::optional<QDateTime> fileTime;
    /// Null when the file is missing or unreadable.
    QImage image;
    /// The file still has the time the caller knew: `image` was not read.
    bool unchanged = false;
};

/// Reads the thumbnail file of a screenshot unless its time equals `knownFileTime`. A file rendered for the
/// frame at a device pixel ratio above 1 keeps its pixels and gets that ratio; another image larger than the
/// row's frame (a file written by an older renderer) is rendered for the frame with the capture's thumbnail
/// rule, so every row draws the same way. Any thread.
LoadedThumbnail loadThumbnailFile(qint64 screenshotId, const std::optional<QDateTime>& knownFileTime);

/// The row thumbnails, read off the main thread and kept by screenshot id and file time, within a memory
/// budget (least recently used first out). Painting asks `thumbnail`, which never touches the disk: a miss
/// starts a load and answers a null image until `thumbnailLoaded` says the image is there. After
/// `revalidate` (the list was published anew) each entry is shown as it is and its file time checked again
/// in the background on its next use, so a rewritten thumbnail file shows. Main thread.
class ThumbnailCache : public QObject {
    Q_OBJECT

public:
    explicit ThumbnailCache(QObject* parent = nullptr);
    ~ThumbnailCache() override;

    /// The cached image of the screenshot (null while loading or when it has none).
    QImage thumbnail(qint64 screenshotId);
    /// Marks every entry to have its file time checked on its next use.
    void revalidate() { ++generation_; }
    /// Marks the entry of one screenshot so, also when its load is on its way.
    void revalidate(qint64 screenshotId);
    /// Lets go of every image (the list is off the screen) and of what loads are still on their way.
    void clear();
    /// Waits for the loads in flight; for tests and benchmarks.
    void waitForLoads();

signals:
    void thumbnailLoaded(qint64 screenshotId);

private:
    struct Entry {
        std::optional<QDateTime> fileTime;
        QImage image;
        quint64 generation = 0;
    };

    void startLoad(qint64 screenshotId, const std::optional<QDateTime>& knownFileTime);
    void finishLoad(const LoadedThumbnail& loaded, quint64 generation);

    QCache<qint64, Entry> entries_;
    QSet<qint64> loading_;
    /// Loads on their way whose result is to be checked again on its next use.
    QSet<qint64> stale_;
    quint64 generation_ = 1;
    /// Counts the clears: a load started before the last one is dropped.
    quint64 epoch_ = 0;
    QThreadPool pool_;
};

} // namespace lumetrove
