#pragma once

#include <QRect>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

class QScreen;

namespace lumetrove {

// Linux stand-in for the window server's list of on-screen windows: the X11 window manager's client list
// (EWMH, read over xcb) as plain records, so that what is filtered and looked up is tested without X.

/// One managed top-level window, in root-window (physical) pixels.
struct WindowRecord {
    quint32 id = 0;
    /// The window with the window manager's frame around it (grown by _NET_FRAME_EXTENTS).
    QRect frame;
    /// _NET_WM_PID: the owning process.
    std::optional<qint64> pid;
    /// The class part of WM_CLASS: the application's name.
    std::optional<QString> className;
    /// _NET_WM_NAME (or WM_NAME): the window's title.
    std::optional<QString> title;
    /// _NET_WM_WINDOW_TYPE is normal or dialog (or not set, which counts as normal).
    bool normalOrDialog = true;
    /// Minimised (_NET_WM_STATE_HIDDEN) or not mapped.
    bool hidden = false;
    /// _NET_WM_DESKTOP; none when not set. `allDesktops` marks a window shown on every desktop.
    std::optional<quint32> desktop;
    static constexpr quint32 allDesktops = 0xFFFFFFFF;
};

/// The client list, front-most window first, and the desktop being shown.
struct WindowStack {
    std::vector<WindowRecord> frontToBack;
    std::optional<quint32> currentDesktop;
};

/// Reads the window manager's stacking list (_NET_CLIENT_LIST_STACKING, bottom to top, turned around).
/// Empty when the session is not X11 or no EWMH window manager runs. Main thread.
WindowStack readWindowStack();

/// True when a compositing manager runs on the X11 screen (the _NET_WM_CM_S<n> selection has an owner):
/// only then are translucent windows drawn translucent. False off X11. Main thread.
bool compositingManagerRunning();

/// Where one screen lies in root-window pixels and in Qt's logical coordinates.
struct ScreenGeometry {
    QRect native;
    QRect logical;
    qreal devicePixelRatio = 1;
};

/// The geometry of every screen, in Qt's order. Main thread.
std::vector<ScreenGeometry> screenGeometries();

/// A rectangle in root-window pixels mapped to Qt's logical coordinates by the screen that holds its
/// top-left corner (the first screen when none does).
QRectF nativeToLogical(const QRect& native, const std::vector<ScreenGeometry>& screens);

} // namespace lumetrove
