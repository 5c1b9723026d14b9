#include "lumetrove/app/WidgetCaptureMainWindow.h"

#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWindow>

namespace lumetrove {
namespace {

/// Watches a window that was shown full screen only to name its output, and takes it back to its normal
/// state once the display server shows it full screen there: it has then placed the window on that output.
/// A server may tell the full screen before the window's first frame or only after it (sway maps the window
/// on the named output, and tells it so, once the first frame is in): the window leaves full screen once it
/// is both exposed and full screen, after the frame its exposure draws.
class FullScreenLeaver : public QObject {
public:
    FullScreenLeaver(QWidget& widget, QWindow& window) : widget_(&widget), window_(&window)
    {
        window.installEventFilter(this);
    }

    ~FullScreenLeaver() override
    {
        if (window_) {
            window_->removeEventFilter(this);
        }
    }

    /// The window is still to leave full screen.
    bool pending() const { return pending_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_) {
            return false;
        }
        if (event->type() == QEvent::Expose && window_->isExposed()) {
            exposed_ = true;
        }
        if ((event->type() == QEvent::Expose || event->type() == QEvent::WindowStateChange) && exposed_ &&
            (window_->windowStates() & Qt::WindowFullScreen)) {
            window_->removeEventFilter(this);
            // Queued: the widget draws its frame for this event first.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    pending_ = false;
                    if (widget_ && widget_->isVisible() && widget_->isFullScreen()) {
                        widget_->showNormal();
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QPointer<QWidget> widget_;
    QPointer<QWindow> window_;
    bool exposed_ = false;
    bool pending_ = true;
};

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

WidgetCaptureMainWindow::WidgetCaptureMainWindow(QWidget* window) : window_(window)
{}

WidgetCaptureMainWindow::~WidgetCaptureMainWindow() = default;

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
    return window_ && window_->isFullScreen() && !leavingFullScreen();
}

void WidgetCaptureMainWindow::showNormal()
{
    stopLeavingFullScreen();
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

bool WidgetCaptureMainWindow::leavingFullScreen() const
{
    return fullScreenLeaver_ && static_cast<const FullScreenLeaver&>(*fullScreenLeaver_).pending();
}

void WidgetCaptureMainWindow::stopLeavingFullScreen()
{
    const bool pending = leavingFullScreen();
    fullScreenLeaver_.reset();
    if (!pending) {
        return;
    }
    // The full screen was only a way to name the output: the window is in its normal state.
    if (window_ && window_->isFullScreen()) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowFullScreen);
    }
}

void WidgetCaptureMainWindow::hide()
{
    stopLeavingFullScreen();
    if (window_ && window_->isVisible()) {
        hiddenGeometry_ = window_->geometry();
        hiddenScreen_ = window_->screen();
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
    const bool placeable =
        !window_->isVisible() && !window_->isMinimized() && !window_->isMaximized() && !window_->isFullScreen();
    // A window mapped anew is placed by the window manager as it likes: under the pointer, on the monitor
    // where the capture was made. Given a place of its own (the window's, not the widget's: the widget hands
    // its geometry on only where it differs from the window's, which it does not), Qt tells the window
    // manager that position as one the user chose, and the window comes back where it was.
    if (hiddenGeometry_ && placeable) {
        window_->setGeometry(*hiddenGeometry_);
        if (QWindow* handle = window_->windowHandle()) {
            handle->setGeometry(*hiddenGeometry_);
        }
    }
    hiddenGeometry_.reset();
    const QPointer<QScreen> screen = std::exchange(hiddenScreen_, nullptr);
    // A Wayland program cannot place its window, and a compositor maps a window anew on the output that has
    // the keyboard, which after a capture is the one where the user dragged, laid out anew there. The one
    // output a program may name is the one to fill: the window comes up full screen on its own output and
    // leaves full screen as soon as it is shown there, laid out on that output as it was before.
    if (onWayland() && screen && placeable && window_->windowHandle() &&
        QGuiApplication::screens().contains(screen.data())) {
        window_->setScreen(screen);
        fullScreenLeaver_ = std::make_unique<FullScreenLeaver>(*window_, *window_->windowHandle());
        window_->showFullScreen();
        return;
    }
    window_->show();
}

void WidgetCaptureMainWindow::bringToFront()
{
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
}

QScreen* WidgetCaptureMainWindow::screen() const
{
    if (hiddenScreen_) {
        return hiddenScreen_;
    }
    return window_ ? window_->screen() : nullptr;
}

quintptr WidgetCaptureMainWindow::nativeWindow() const
{
    return window_ && window_->isVisible() ? window_->winId() : 0;
}

} // namespace lumetrove
