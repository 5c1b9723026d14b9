#include "lumetrove/captureui/ViewSnapshot.h"

#include <QWidget>

namespace lumetrove {

QImage snapshotImage(QWidget& widget, qreal devicePixelRatio)
{
    if (widget.width() <= 0 || widget.height() <= 0) {
        return {};
    }
    QImage image(widget.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace lumetrove
