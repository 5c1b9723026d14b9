#pragma once

#include <QByteArray>
#include <QString>

namespace lumetrove {

// Which road a capture takes. An X11 session lets every client read the screen, so the screen is read
// directly. A Wayland session lets no program read other programs' pixels, whether Qt speaks Wayland or runs
// through XWayland: there the desktop portal takes the screenshot.

/// Whether these environment values describe a Wayland session: WAYLAND_DISPLAY is set, or
/// XDG_SESSION_TYPE is "wayland".
bool isWaylandSession(const QByteArray& waylandDisplay, const QByteArray& sessionType);

/// The same for this process's environment.
bool isWaylandSession();

/// Whether captures go through the desktop portal: a Wayland session, with Qt on a platform that shows
/// windows on it (its wayland plugin, or xcb through XWayland). Off-screen platforms never do.
bool capturesThroughPortal(bool waylandSession, const QString& platformName);

/// The same for this process. Main thread (needs the application object).
bool capturesThroughPortal();

} // namespace lumetrove
