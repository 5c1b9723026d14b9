#include "lumetrove/app/WidgetCaptureMainWindow.h"

namespace lumetrove {

bool WidgetCaptureMainWindow::isVisible() const
{
    return window_ && window_->isVisible();
}

bool WidgetCaptureMainWindow::isMinimized() const
{
    return window_ && window_->isMinimized();
}

bool WidgetCaptureMainWindow::isFullScreen() const
{
    return window_ && window_->isFullScreen();
}

void WidgetCaptureMainWindow::showNormal()
{
    if (window_) {
        window_->showNormal();
    }
}

void WidgetCaptureMainWindow::setOpacity(qreal opacity)
{
    if (window_) {
        window_->setWindowOpacity(opacity);
    }
}

void WidgetCaptureMainWindow::hide()
{
    if (window_) {
        window_->hide();
    }
}

void WidgetCaptureMainWindow::show()
{
    if (window_) {
        window_->show();
    }
}

void WidgetCaptureMainWindow::bringToFront()
{
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
}

quintptr WidgetCaptureMainWindow::nativeWindow() const
{
    return window_ && window_->isVisible() ? window_->winId() : 0;
}

} // namespace lumetrove
