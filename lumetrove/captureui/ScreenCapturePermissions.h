#pragma once

#include "lumetrove/platform/WindowList.h"

#include <QPointer>
#include <QWidget>

namespace lumetrove {

/// Decides whether the screen may be captured and, when it may not, shows a window that explains why and
/// offers to start the program again (on X11; in a Wayland session it says that a desktop portal with
/// screenshot support is missing, which no restart mends). One process-wide instance. Main thread.
class ScreenCapturePermissions {
public:
    static constexpr int windowWidth = 560;
    static constexpr int windowHeight = 720;
    /// What the window says in a Wayland session where the desktop portal takes no screenshot.
    static constexpr const char* missingPortalText =
        "Lumetrove takes screenshots on Wayland through the desktop portal, and this desktop has no desktop portal "
        "with screenshot support that lets it take one. Install xdg-desktop-portal with a backend for your desktop "
        "that supports screenshots (such as xdg-desktop-portal-gnome, xdg-desktop-portal-kde or "
        "xdg-desktop-portal-wlr), and allow Lumetrove to take screenshots, then take the screenshot again.";

    static ScreenCapturePermissions& shared();

    /// True when capturing may go ahead: the session allows it, or the main window is in full screen.
    /// Otherwise shows the permission window, hides the main window and answers false.
    bool checkScreenCapturePermission();

    /// Whether one listed window shows that other programs' windows can be read: it belongs to another
    /// running process and has a title.
    static bool windowNameIsReadable(const WindowRecord& window, qint64 ownProcessId);

    /// Builds the permission window anew and shows it at the top right of the first screen, with the keyboard:
    /// once the program's other windows coming up (the main window a capture gives back) are on screen. Escape
    /// closes it; Return presses its button, or closes it where it has none.
    void showGetScreenRecordingPermissionsWindow();

    /// Starts this program again with its arguments (never through a shell) and quits this instance.
    static void relaunchApp();

    /// The window last built (shown, or about to be); null when none is open.
    QWidget* window() const { return window_; }

private:
    QPointer<QWidget> window_;
};

} // namespace lumetrove
