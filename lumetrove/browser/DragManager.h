#pragma once

#include "lumetrove/library/Screenshot.h"

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>
#include <Qt>
#include <functional>

class QDrag;
class QDropEvent;
class QMimeData;
class QWidget;

namespace lumetrove {

/// The private drag type of a screenshot: the only format a screenshot drag carries, and the only one the
/// sidebar's drop targets accept. Its value is the text "Screenshot"; which screenshot is dragged travels in
/// `DragManager`, so the drag means nothing outside this process.
inline const QString screenshotDragType = QStringLiteral("app.lumetrove.Lumetrove.Screenshot");

/// Distance in pixels that the pointer moves from the press before a row drag begins.
inline constexpr double screenshotDragDistance = 50.0;

/// Size of the drag image: the row's thumbnail squeezed to it whatever its proportions.
inline constexpr QSize screenshotDragImageSize{35, 25};

/// The process-wide holder of the screenshot whose drag is in progress. Set when a row drag begins and
/// cleared when that drag ends (dropped, refused or cancelled), so a drop target never files a screenshot
/// from a drag that is over. Main thread only.
class DragManager {
public:
    /// Runs a prepared drag to its end and answers the action taken; the default is `QDrag::exec`.
    using DragRunner = std::function<Qt::DropAction(QDrag& drag)>;

    static DragManager& shared();

    const ScreenshotPtr& draggedScreenshot() const { return draggedScreenshot_; }
    /// The data of the drag in progress, null between drags. Qt hands a drop target in this process the very
    /// object the drag carries, and a drop from another process other data, so this tells the two apart.
    const QMimeData* activeDragData() const { return activeDragData_; }

    /// Drags `screenshot` from `source`: records it, runs the drag with the private type and a drag image made
    /// from `thumbnail` (may be null: the image stays transparent), and clears the record when the drag ends.
    /// Answers the drop action (IgnoreAction when nobody took it).
    Qt::DropAction beginDrag(QWidget* source, ScreenshotPtr screenshot, const QImage& thumbnail);

    /// Replaces how drags run; a null runner restores `QDrag::exec`. For tests, which cannot drive the
    /// window system's drag loop.
    void setDragRunner(DragRunner runner) { runner_ = std::move(runner); }

private:
    DragManager() = default;

    ScreenshotPtr draggedScreenshot_;
    const QMimeData* activeDragData_ = nullptr;
    DragRunner runner_;
};

/// True when the pointer has moved far enough from the press for a drag to begin.
bool screenshotDragDistanceReached(QPointF pressPoint, QPointF currentPoint);

/// The data of a screenshot drag: one entry of the private type with the text "Screenshot".
QMimeData* makeScreenshotMimeData();

/// The drag image: `thumbnail` squeezed to 35 × 25; transparent when the thumbnail is null.
QImage makeScreenshotDragImage(const QImage& thumbnail);

/// True when a drag or drop event carries the screenshot drag in progress in this process. A drag from
/// another process, even of the private type, or one without the private type is refused.
bool isOwnScreenshotDrag(const QDropEvent& event);

} // namespace lumetrove
