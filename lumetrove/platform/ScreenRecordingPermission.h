#pragma once

#include <QString>
#include <QStringList>

namespace lumetrove {

// Linux stand-in for the screen-recording permission. An X11 session lets every client read the screen:
// the permission is granted. In a Wayland session the desktop portal answers for each screenshot, which is
// the permission there: the session itself grants it. Any other platform has no way to read the screen.

/// True when this session lets the program read the screen (X11, Wayland through the desktop portal, or the
/// off-screen platform of tests).
bool screenCaptureAccessGranted();

/// Starts `program` with `arguments` as a new detached process, without a shell: no character of the path
/// or the arguments is interpreted. False when it cannot be started.
bool startDetachedProgram(const QString& program, const QStringList& arguments);

} // namespace lumetrove
