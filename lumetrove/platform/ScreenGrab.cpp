#include "lumetrove/platform/ScreenGrab.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <functional>

namespace lumetrove {
namespace {

/// The pixels of `area` put together from each screen's part of it, which `part` gives (the part in the
/// screen's logical coordinates; null when the screen gives nothing).
QImage assemble(const QRectF& area, const std::vector<QRect>& screens,
                const std::function<QImage(std::size_t screen, const QRect& part)>& part)
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
    for (std::size_t screen = 0; screen < screens.size(); ++screen) {
        const QRect geometry = screens[screen];
        const QRect piece = pixels.intersected(geometry);
        if (piece.isEmpty()) {
            continue;
        }
        QImage image = part(screen, piece.translated(-geometry.topLeft()));
        if (image.isNull()) {
            return {};
        }
        ratio = std::max(ratio, image.devicePixelRatio());
        parts.push_back(Part{piece, std::move(image)});
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

} // namespace

QImage grabScreenArea(const QRectF& area)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::vector<QRect> geometries;
    for (const QScreen* screen : screens) {
        geometries.push_back(screen->geometry());
    }
    return assemble(area, geometries, [&](std::size_t screen, const QRect& part) {
        // With window 0 the offset is taken relative to the screen itself.
        return screens[static_cast<qsizetype>(screen)]
            ->grabWindow(0, part.x(), part.y(), part.width(), part.height())
            .toImage();
    });
}

QImage grabWholeScreen(QScreen& screen)
{
    return screen.grabWindow(0).toImage();
}

std::vector<ScreenStill> grabScreenStills()
{
    std::vector<ScreenStill> stills;
    for (QScreen* screen : QGuiApplication::screens()) {
        QImage image = grabWholeScreen(*screen);
        if (image.isNull()) {
            return {};
        }
        stills.push_back(ScreenStill{screen->geometry(), std::move(image)});
    }
    return stills;
}

QImage cutScreenArea(const QRectF& area, const std::vector<ScreenStill>& stills)
{
    std::vector<QRect> geometries;
    for (const ScreenStill& still : stills) {
        geometries.push_back(still.geometry);
    }
    return assemble(area, geometries, [&](std::size_t screen, const QRect& part) {
        const QImage& image = stills[screen].image;
        const qreal ratio = image.devicePixelRatio();
        const QRect pixels((QPointF(part.topLeft()) * ratio).toPoint(), (QSizeF(part.size()) * ratio).toSize());
        QImage piece = image.copy(pixels);
        piece.setDevicePixelRatio(ratio);
        return piece;
    });
}

} // namespace lumetrove
