#pragma once

#include <QObject>

namespace lumetrove {

/// The software-update service. On Linux the program is updated with the system's package manager, so this
/// updater never can check: `canCheckForUpdates` stays false and `checkForUpdates` does nothing. The menu's
/// update command binds to it all the same, so a packaging that can check only needs another updater.
class SoftwareUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    using QObject::QObject;

    /// Whether a check can start now.
    virtual bool canCheckForUpdates() const { return false; }

    /// Starts a check that the user sees; nothing while `canCheckForUpdates` is false.
    virtual void checkForUpdates() {}

signals:
    void canCheckForUpdatesChanged(bool canCheck);
};

} // namespace lumetrove
