#include "lumetrove/platform/DesktopImage.h"

#include "lumetrove/platform/DesktopSession.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace lumetrove {

std::vector<ScreenLayout> screenLayouts()
{
    // On the xcb platform in a Wayland session the X server is XWayland, which gives each output its logical
    // size and no scale.
    const bool scalesKnown = QGuiApplication::platformName() != QLatin1String("xcb") || !isWaylandSession();
    std::vector<ScreenLayout> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back(ScreenLayout{screen->geometry(), scalesKnown ? screen->devicePixelRatio() : 0});
    }
    return screens;
}

DesktopImage::DesktopImage(QImage image, std::vector<ScreenLayout> screens)
    : image_(std::move(image)), screens_(std::move(screens))
{
    for (const ScreenLayout& screen : screens_) {
        layout_ = layout_.united(screen.geometry);
    }
    if (!layout_.isEmpty() && !image_.isNull()) {
        scale_ = qreal(image_.width()) / layout_.width();
    }
}

QRect DesktopImage::pixelRect(const QRectF& logical) const
{
    const QPointF origin = (logical.topLeft() - QPointF(layout_.topLeft())) * scale_;
    const QPointF end = (logical.bottomRight() - QPointF(layout_.topLeft())) * scale_;
    const QPoint first(int(std::lround(origin.x())), int(std::lround(origin.y())));
    const QPoint last(int(std::lround(end.x())), int(std::lround(end.y())));
    return QRect(first, QSize(last.x() - first.x(), last.y() - first.y()));
}

QImage DesktopImage::part(const QRect& logical) const
{
    if (scale_ <= 0) {
        return {};
    }
    return image_.copy(pixelRect(QRectF(logical)));
}

QImage DesktopImage::grab(const QRectF& area) const
{
    if (scale_ <= 0 || area.isEmpty()) {
        return {};
    }
    qreal ratio = 0;
    for (const ScreenLayout& screen : screens_) {
        if (QRectF(screen.geometry).intersects(area)) {
            ratio = std::max(ratio, screen.devicePixelRatio > 0 ? screen.devicePixelRatio : scale_);
        }
    }
    if (ratio <= 0) {
        return {};
    }
    ratio = std::min(ratio, scale_);
    // Screens are opaque; what the image leaves transparent (outside every screen) becomes black.
    const QRect wanted = pixelRect(area);
    QImage pixels(wanted.size(), QImage::Format_RGB32);
    pixels.fill(Qt::black);
    const QRect available = wanted.intersected(image_.rect());
    if (!available.isEmpty()) {
        QPainter painter(&pixels);
        painter.drawImage(available.topLeft() - wanted.topLeft(), image_, available);
    }
    const QSize size(int(std::lround(area.width() * ratio)), int(std::lround(area.height() * ratio)));
    if (size != pixels.size()) {
        // A screen of a lower scale is enlarged in the image: back to its own pixels.
        pixels = pixels.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    pixels.setDevicePixelRatio(ratio);
    return pixels;
}

} // namespace lumetrove
