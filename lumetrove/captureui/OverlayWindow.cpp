#include "lumetrove/captureui/OverlayWindow.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace lumetrove {
namespace {

// Wayland lets no program place its windows: a full-screen window on a chosen screen is the one way to cover it.
bool placedByFullScreen()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

Qt::WindowFlags overlayFlags()
{
    if (placedByFullScreen()) {
        return Qt::Window | Qt::FramelessWindowHint;
    }
    return Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;
}

} // namespace

OverlayWindow::OverlayWindow(QScreen& screen, int level, QWidget* content, QImage frozenScreen)
    : QWidget(nullptr, overlayFlags()), screen_(&screen), frozenScreen_(std::move(frozenScreen))
{
    setProperty(levelProperty, level);
    setAttribute(Qt::WA_DeleteOnClose);
    if (frozenScreen_.isNull()) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    setScreen(&screen);
    setGeometry(screen.geometry());
}

void OverlayWindow::showOverScreen()
{
    if (placedByFullScreen()) {
        setScreen(screen_);
        showFullScreen();
        return;
    }
    setGeometry(screen_->geometry());
    show();
    raise();
    activateWindow();
}

void OverlayWindow::setFrozenScreen(QImage frozenScreen)
{
    frozenScreen_ = std::move(frozenScreen);
    update();
}

void OverlayWindow::paintEvent(QPaintEvent* event)
{
    if (frozenScreen_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(rect(), frozenScreen_);
}

} // namespace lumetrove
