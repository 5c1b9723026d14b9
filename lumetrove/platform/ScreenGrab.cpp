#include "lumetrove/platform/ScreenGrab.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace lumetrove {

QImage grabScreenArea(const QRectF& area)
{
    const QRect pixels = area.toAlignedRect();
    if (pixels.isEmpty()) {
        return {};
    }
    struct Part {
        QRect area;
        QImage image;
    };
    std::vector<Part> parts;
    qreal ratio = 1;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const QRect part = pixels.intersected(geometry);
        if (part.isEmpty()) {
            continue;
        }
        // With window 0 the offset is taken relative to the screen itself.
        const QPixmap grabbed =
            screen->grabWindow(0, part.x() - geometry.x(), part.y() - geometry.y(), part.width(), part.height());
        if (grabbed.isNull()) {
            return {};
        }
        parts.push_back(Part{part, grabbed.toImage()});
        ratio = std::max(ratio, grabbed.devicePixelRatio());
    }
    if (parts.empty()) {
        return {};
    }
    if (parts.size() == 1 && parts.front().area == pixels) {
        return parts.front().image;
    }
    QImage image((QSizeF(pixels.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.fill(Qt::black);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const Part& part : parts) {
        painter.drawImage(QRectF(part.area.topLeft() - pixels.topLeft(), QSizeF(part.area.size())), part.image);
    }
    return image;
}

QImage grabWholeScreen(QScreen& screen)
{
    return screen.grabWindow(0).toImage();
}

} // namespace lumetrove
