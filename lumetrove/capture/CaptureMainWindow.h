#pragma once

#include <QtGlobal>

class QScreen;

namespace lumetrove {

/// The main window as a capture sees it: made invisible while the user chooses an area, and given back, or
/// brought forward, when the capture ends. The shell implements it over its window, so the capture engine
/// neither holds a widget nor looks for one. Main thread.
class CaptureMainWindow {
public:
    virtual ~CaptureMainWindow() = default;
    /// Mapped, minimised or not.
    virtual bool isVisible() const = 0;
    virtual bool isMinimized() const = 0;
    virtual bool isFullScreen() const = 0;
    /// Leaves full screen for the window's normal size.
    virtual void showNormal() = 0;
    virtual void setOpacity(qreal opacity) = 0;
    virtual void hide() = 0;
    virtual void show() = 0;
    /// Raises the window and gives it the keyboard.
    virtual void bringToFront() = 0;
    /// The window system's id of the window while it is shown (on X11 its window), 0 when there is none: the
    /// capture watches it leave the screen.
    virtual quintptr nativeWindow() const { return 0; }
    /// The screen the window is on, or was on when it was hidden; none when unknown.
    virtual QScreen* screen() const { return nullptr; }
};

} // namespace lumetrove
