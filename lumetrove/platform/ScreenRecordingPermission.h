#pragma once

#include <QString>
#include <QStringList>

namespace lumetrove {

// Linux stand-in for the screen-recording permission. An X11 session lets every client read the screen:
// the permission is granted. Any other session (Wayland) gives an X11 program no way to read other
// programs' pixels, so it is not granted.

/// True when this session lets the program read the screen (X11, or the off-screen platform of tests).
bool screenCaptureAccessGranted();

/// Starts `program` with `arguments` as a new detached process, without a shell: no character of the path
/// or the arguments is interpreted. False when it cannot be started.
bool startDetachedProgram(const QString& program, const QStringList& arguments);

} // namespace lumetrove
