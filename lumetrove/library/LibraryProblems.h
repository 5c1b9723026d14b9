#pragma once

#include <QString>

namespace lumetrove {

// A change that the library could not keep (a write refused by a full disk or a read-only library, an image
// file that could not be moved) is told to the user, not only to the log: it is posted on the notification
// center, and the main window shows each message in a line the user can dismiss.

/// The name of that notification; its user info holds the message under `libraryProblemMessageKey`.
extern const QString libraryProblemNotification;
extern const QString libraryProblemMessageKey;

/// Posted (with no user info) when the library was rebuilt while the program ran, after damage was found: the
/// lists read it again.
extern const QString libraryRepairedNotification;

/// Posted when a repair of the library starts on a thread of its own, and again when it ends; its user info
/// holds whether it runs under `libraryRepairingKey` (a Boolean).
extern const QString libraryRepairingNotification;
extern const QString libraryRepairingKey;

/// Posts `message`, one sentence that says what was not kept and why. Any thread; observers run on the main
/// thread.
void reportLibraryProblem(const QString& message);

} // namespace lumetrove
