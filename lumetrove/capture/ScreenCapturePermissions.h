#pragma once

#include "lumetrove/platform/WindowList.h"

#include <QPointer>
#include <QWidget>

namespace lumetrove {

/// Decides whether the screen may be captured and, when it may not, shows a window that explains why and
/// offers to start the program again. One process-wide instance. Main thread.
class ScreenCapturePermissions {
public:
    static constexpr int windowWidth = 560;
    static constexpr int windowHeight = 720;

    static ScreenCapturePermissions& shared();

    /// True when capturing may go ahead: the session allows it, or the main window is in full screen.
    /// Otherwise shows the permission window, hides the main window and answers false.
    bool checkScreenCapturePermission();

    /// Whether one listed window shows that other programs' windows can be read: it belongs to another
    /// running process and has a title.
    static bool windowNameIsReadable(const WindowRecord& window, qint64 ownProcessId);

    /// Builds the permission window anew and shows it at the top right of the first screen.
    void showGetScreenRecordingPermissionsWindow();

    /// Starts this program again with its arguments (never through a shell) and quits this instance.
    static void relaunchApp();

    /// The window last shown; null when none is open.
    QWidget* window() const { return window_; }

private:
    QPointer<QWidget> window_;
};

} // namespace lumetrove
