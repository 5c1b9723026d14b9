#pragma once

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QStyledItemDelegate>
#include <optional>

namespace lumetrove {

class LibrarySelection;
class ThumbnailCache;

/// The thumbnail frame of a compact row. A row too narrow for the full-size thumbnail and a readable name
/// beside it (a narrow list column, a large scale factor) is compact: its name has a line of its own across
/// the row, above a thumbnail half the size.
inline constexpr QSize compactRowThumbnailFrame{100, 70};

/// Whether a row `rowWidth` wide is compact.
bool isCompactScreenshotRow(int rowWidth);

/// A row thumbnail as a compact row shows it: fitted into the compact frame, proportions kept.
QImage compactRowThumbnail(const QImage& thumbnail);

/// Geometry of one screenshot row inside the rectangle the list gives it.
struct ScreenshotRowGeometry {
    /// A compact row: the name on a line of its own, the small thumbnail frame below it.
    bool compact = false;
    /// The rounded background that takes the selection colour.
    QRect card;
    /// The thumbnail's frame, with its border drawn just inside.
    QRect thumbnailFrame;
    /// Name line, then date and description below it.
    QRect nameRect;
    QRect detailRect;
    /// The captured application's icon in the card's top trailing corner.
    QRect appIconRect;
    /// Where the row takes the mouse: the whole row but its last 15 pixels at the trailing edge.
    QRect mouseSurface;
};

/// Lays out a row in `rowRect` (left to right; the list mirrors it for right-to-left); compact when the
/// rectangle is narrow.
ScreenshotRowGeometry screenshotRowGeometry(const QRect& rowRect);

/// Height of every row `rowWidth` wide: the thumbnail frame, its padding and the gap between rows.
int screenshotRowHeight(int rowWidth);

/// Where `image` sits in the frame: centred at its own size (thumbnail files are made for the frame; a
/// larger image is clipped to it by the painter).
QRect thumbnailImageRect(const QRect& frame, const QSize& imageSize);

/// Paints a screenshot row from data that is ready: the model's texts, the thumbnail cache (which loads in
/// the background and never blocks) and application icons resolved outside painting.
class ScreenshotRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    ScreenshotRowDelegate(const LibrarySelection& selection, ThumbnailCache& thumbnails, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// The opacity of the placeholder bars of rows whose screenshot is being analysed.
    void setLoadingBarsOpacity(double opacity) { loadingBarsOpacity_ = opacity; }
    double loadingBarsOpacity() const { return loadingBarsOpacity_; }

signals:
    /// A row with placeholder bars was painted, so the pulse should run.
    void processingRowPainted() const;
    /// An application icon became known; rows showing it need repainting.
    void appIconResolved() const;

private:
    /// The cached thumbnail of the screenshot `id`, made small once for a compact row; null until loaded.
    QImage rowThumbnail(qint64 id, bool compact) const;
    std::optional<QIcon> appIcon(const QString& bundleId) const;
    void resolveAppIcons() const;

    const LibrarySelection& selection_;
    ThumbnailCache& thumbnails_;
    double loadingBarsOpacity_ = 0.4;
    mutable QHash<QString, std::optional<QIcon>> appIcons_;
    /// Compact thumbnails made from the cached ones, by the cached image's key: made once, not in every paint.
    mutable QHash<qint64, QImage> compactThumbnails_;
    mutable QSet<QString> pendingAppIcons_;
};

} // namespace lumetrove
