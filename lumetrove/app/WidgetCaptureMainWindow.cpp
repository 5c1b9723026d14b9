#include "lumetrove/app/WidgetCaptureMainWindow.h"

#include <QWindow>

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
    if (window_ && window_->isVisible()) {
        hiddenGeometry_ = window_->geometry();
    }
    if (window_) {
        window_->hide();
    }
}

void WidgetCaptureMainWindow::show()
{
    if (!window_) {
        return;
    }
    // A window mapped anew is placed by the window manager as it likes: under the pointer, on the monitor
    // where the capture was made. Given a place of its own (the window's, not the widget's: the widget hands
    // its geometry on only where it differs from the window's, which it does not), Qt tells the window
    // manager that position as one the user chose, and the window comes back where it was.
    if (hiddenGeometry_ && !window_->isVisible() && !window_->isMinimized() && !window_->isMaximized() &&
        !window_->isFullScreen()) {
        window_->setGeometry(*hiddenGeometry_);
        if (QWindow* handle = window_->windowHandle()) {
            handle->setGeometry(*hiddenGeometry_);
        }
    }
    hiddenGeometry_.reset();
    window_->show();
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
