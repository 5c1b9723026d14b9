#pragma once

#include <QHash>
#include <QIcon>
#include <QSet>
#include <QStyledItemDelegate>
#include <optional>

namespace lumetrove {

class LibrarySelection;
class ThumbnailCache;

/// Geometry of one screenshot row inside the rectangle the list gives it.
struct ScreenshotRowGeometry {
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

/// Lays out a row in `rowRect` (left to right; the list mirrors it for right-to-left).
ScreenshotRowGeometry screenshotRowGeometry(const QRect& rowRect);

/// Height of every row: the thumbnail frame, its padding and the gap between rows.
int screenshotRowHeight();

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
    std::optional<QIcon> appIcon(const QString& bundleId) const;
    void resolveAppIcons() const;

    const LibrarySelection& selection_;
    ThumbnailCache& thumbnails_;
    double loadingBarsOpacity_ = 0.4;
    mutable QHash<QString, std::optional<QIcon>> appIcons_;
    mutable QSet<QString> pendingAppIcons_;
};

} // namespace lumetrove
