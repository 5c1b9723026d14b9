#include "lumetrove/browser/DragManager.h"

#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <cmath>

namespace lumetrove {

DragManager& DragManager::shared()
{
    static DragManager manager;
    return manager;
}

Qt::DropAction DragManager::beginDrag(QWidget* source, ScreenshotPtr screenshot, const QImage& thumbnail)
{
    if (source == nullptr || screenshot == nullptr) {
        return Qt::IgnoreAction;
    }
    // The drag belongs to its source; a guard, since the source may go while the drag runs.
    QPointer<QDrag> drag = new QDrag(source);
    QMimeData* data = makeScreenshotMimeData();
    drag->setMimeData(data);
    drag->setPixmap(QPixmap::fromImage(makeScreenshotDragImage(thumbnail)));
    // The image's lower left corner sits at the pointer.
    drag->setHotSpot(QPoint(0, screenshotDragImageSize.height()));

    draggedScreenshot_ = std::move(screenshot);
    activeDragData_ = data;
    const Qt::DropAction action = runner_ ? runner_(*drag) : drag->exec(Qt::CopyAction, Qt::CopyAction);
    // The drag is over whatever became of it: nothing may be dropped from it any more.
    draggedScreenshot_.reset();
    activeDragData_ = nullptr;
    if (drag != nullptr) {
        drag->deleteLater();
    }
    return action;
}

bool screenshotDragDistanceReached(QPointF pressPoint, QPointF currentPoint)
{
    const QPointF delta = currentPoint - pressPoint;
    return std::hypot(delta.x(), delta.y()) >= screenshotDragDistance;
}

QMimeData* makeScreenshotMimeData()
{
    auto* data = new QMimeData;
    data->setData(screenshotDragType, QByteArrayLiteral("Screenshot"));
    return data;
}

QImage makeScreenshotDragImage(const QImage& thumbnail)
{
    QImage image(screenshotDragImageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (!thumbnail.isNull()) {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), screenshotDragImageSize), thumbnail);
    }
    return image;
}

bool isOwnScreenshotDrag(const QDropEvent& event)
{
    const DragManager& manager = DragManager::shared();
    return event.mimeData() != nullptr && event.mimeData() == manager.activeDragData() &&
           event.mimeData()->hasFormat(screenshotDragType) && manager.draggedScreenshot() != nullptr;
}

} // namespace lumetrove
