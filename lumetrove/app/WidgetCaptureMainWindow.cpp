#include "lumetrove/app/WidgetCaptureMainWindow.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <utility>

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

namespace {

/// Calls its action once, when its window has drawn its first frame since it was shown (a Wayland window is
/// mapped only with that frame) or when the wait has gone on long enough, then goes.
class FirstFrameWait : public QObject {
public:
    FirstFrameWait(QWidget* window, std::function<void()> action) : QObject(window), action_(std::move(action))
    {
        window->installEventFilter(this);
        // A compositor that never shows the window must not keep the caller waiting.
        QTimer::singleShot(3000, this, &FirstFrameWait::fire);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            // After the painted frame has gone to the window system.
            QTimer::singleShot(0, this, &FirstFrameWait::fire);
        }
        return false;
    }

private:
    void fire()
    {
        if (action_) {
            std::exchange(action_, nullptr)();
        }
        deleteLater();
    }

    std::function<void()> action_;
};

} // namespace

void WidgetCaptureMainWindow::showThen(std::function<void()> shown)
{
    const bool wasVisible = window_ && window_->isVisible();
    show();
    if (!window_ || wasVisible) {
        shown();
        return;
    }
    new FirstFrameWait(window_, std::move(shown));
}

void WidgetCaptureMainWindow::bringToFront()
{
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
}

} // namespace lumetrove
