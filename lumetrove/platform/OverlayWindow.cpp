#include "lumetrove/platform/OverlayWindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace lumetrove {

OverlayWindow::OverlayWindow(QScreen& screen, int level, QWidget* content, QImage frozenScreen)
    : QWidget(nullptr,
              Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint),
      screen_(&screen), frozenScreen_(std::move(frozenScreen))
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
    setGeometry(screen_->geometry());
    show();
    raise();
    activateWindow();
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
