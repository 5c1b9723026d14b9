#include "lumetrove/app/WidgetCaptureMainWindow.h"

#include <QApplication>
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

/// Shows a window's dialogs again when the window itself is next shown: a dialog mapped before its window
/// would be stacked below it once the window comes, and block it unseen.
class DialogsReturn : public QObject {
public:
    DialogsReturn(QWidget& window, const QList<QWidget*>& dialogs) : window_(&window)
    {
        for (QWidget* dialog : dialogs) {
            dialogs_.append(dialog);
        }
        window.installEventFilter(this);
    }

    ~DialogsReturn() override
    {
        if (window_) {
            window_->removeEventFilter(this);
        }
    }

    /// The window has not been shown since.
    bool pending() const { return !dialogs_.isEmpty(); }

    /// Takes more dialogs along, hidden with the window again before it came back.
    void add(const QList<QWidget*>& dialogs)
    {
        for (QWidget* dialog : dialogs) {
            if (!dialogs_.contains(dialog)) {
                dialogs_.append(dialog);
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Show) {
            window_->removeEventFilter(this);
            // Queued: the window is shown to the window system after its show event; its dialogs follow it there.
            QMetaObject::invokeMethod(
                window_,
                [dialogs = dialogs_] {
                    for (const QPointer<QWidget>& dialog : dialogs) {
                        if (dialog) {
                            dialog->show();
                        }
                    }
                },
                Qt::QueuedConnection);
            dialogs_.clear();
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
    QList<QPointer<QWidget>> dialogs_;
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
        for (QWidget* dialog : shownDialogs()) {
            dialog->setWindowOpacity(opacity);
        }
    }
}

QList<QWidget*> WidgetCaptureMainWindow::shownDialogs() const
{
    QList<QWidget*> dialogs;
    if (!window_) {
        return dialogs;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != window_ && widget->isVisible() && widget->parentWidget() &&
            widget->parentWidget()->window() == window_) {
            dialogs.append(widget);
        }
    }
    return dialogs;
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
        // A dialog is a window of its own: hiding its window leaves it on the screen.
        const QList<QWidget*> dialogs = shownDialogs();
        if (!dialogs.isEmpty()) {
            if (dialogsReturn_ && static_cast<DialogsReturn&>(*dialogsReturn_).pending()) {
                static_cast<DialogsReturn&>(*dialogsReturn_).add(dialogs);
            } else {
                dialogsReturn_ = std::make_unique<DialogsReturn>(*window_, dialogs);
            }
            for (QWidget* dialog : dialogs) {
                dialog->hide();
            }
        }
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
