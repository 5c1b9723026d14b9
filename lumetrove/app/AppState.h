#pragma once

#include <QObject>

namespace lumetrove {

/// The shell's signal to open the Settings window: the status menu's "Settings..." sends it, the main window
/// answers it. One instance for the whole run. Main thread.
class AppState : public QObject {
    Q_OBJECT

public:
    /// The process-wide instance, made on first use and kept until exit.
    static AppState& shared();

    /// Emits `openSettingsSignal`.
    void sendOpenSettings() { emit openSettingsSignal(); }

signals:
    void openSettingsSignal();

private:
    AppState() = default;
};

} // namespace lumetrove
