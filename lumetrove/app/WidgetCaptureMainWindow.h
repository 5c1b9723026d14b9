#pragma once

#include "lumetrove/capture/CaptureMainWindow.h"

#include <QList>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <memory>
#include <optional>

class QObject;

namespace lumetrove {

/// The shell's main window as the capture engine sees it. It follows the widget by a guarded pointer: once
/// the widget is gone, every call does nothing and it counts as hidden. A window hidden here and shown again
/// comes back where it was, at the same size: on X11 at its place, on Wayland on its own output. The window's
/// own dialogs (an alert it shows, its sheets) leave the screen with it and come back above it, so that they
/// are neither in the picture nor left behind a window they block. Main thread.
class WidgetCaptureMainWindow : public CaptureMainWindow {
public:
    explicit WidgetCaptureMainWindow(QWidget* window);
    ~WidgetCaptureMainWindow() override;

    bool isVisible() const override;
    bool isMinimized() const override;
    bool isFullScreen() const override;
    void showNormal() override;
    void setOpacity(qreal opacity) override;
    void hide() override;
    void show() override;
    void bringToFront() override;
    quintptr nativeWindow() const override;
    QScreen* screen() const override;

private:
    /// The window is full screen only until the display server has shown it on its output.
    bool leavingFullScreen() const;
    /// Drops the pending return from the full screen that `show` took on Wayland.
    void stopLeavingFullScreen();
    /// The dialogs of the window that are on the screen.
    QList<QWidget*> shownDialogs() const;

    QPointer<QWidget> window_;
    /// The window's place on the desktop (without its frame) when it was last hidden here.
    std::optional<QRect> hiddenGeometry_;
    /// The screen it was on then.
    QPointer<QScreen> hiddenScreen_;
    /// Takes the window out of full screen once the display server has shown it there.
    std::unique_ptr<QObject> fullScreenLeaver_;
    /// Shows the dialogs hidden with the window again once the window is shown, by whatever road.
    std::unique_ptr<QObject> dialogsReturn_;
};

} // namespace lumetrove
