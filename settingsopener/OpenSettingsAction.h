#pragma once

#include "settingsopener/OpenSettingsError.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

namespace settingsopener {

/// The two roads to the Settings window. `settingsLink`: a link that the application registered
/// (`registerSettingsScene`) is handed to the action by an `OpenSettingsInjection` placed in a window.
/// `legacyAction`: a named action ("showSettingsWindow", then "showPreferencesWindow") is sent to the
/// application's delegate, or to the application object when no delegate is set.
enum class SettingsRoad { settingsLink, legacyAction };

/// The road of this system: the settings link.
SettingsRoad runningRoad();

/// A two-way hook onto an optional closure; a constant hook reads none and ignores writes.
struct ClosureBinding {
    std::function<std::function<void()>()> get = [] { return std::function<void()>(); };
    std::function<void(std::function<void()>)> set = [](std::function<void()>) {};

    static ClosureBinding constant() { return {}; }
};

/// The callable object that opens the Settings window. Main thread.
class OpenSettingsAction : public QObject {
    Q_OBJECT

public:
    /// What calling the action runs; it may throw.
    using Closure = std::function<void()>;

    /// On the settings-link road the action starts unconnected and `closureBinding` is the hook through which
    /// a link hands over its trigger; on the legacy road `closure` is `legacyOpenSettings` from the start.
    explicit OpenSettingsAction(SettingsRoad road = runningRoad(), QObject* parent = nullptr);

    const Closure& closure() const { return closure_; }
    void setClosure(Closure closure) { closure_ = std::move(closure); }

    /// Holds this action weakly: reading gives a closure that calls `closure` and swallows its errors (none
    /// when unconnected); writing a closure connects the action to it, writing none disconnects it.
    const ClosureBinding& closureBinding() const { return closureBinding_; }
    void setClosureBinding(ClosureBinding binding) { closureBinding_ = std::move(binding); }

    /// Opens Settings. Throws `OpenSettingsError::settingsLinkNotConnected` when nothing is connected, the
    /// `OpenSettingsError` of the same name for a `FallbackOpenSettingsError`, and any other error unchanged.
    void openSettings();

private:
    Closure closure_;
    ClosureBinding closureBinding_;
};

/// The process-wide action that views get when no injection widget above them sets one: made on first use and
/// kept until exit.
OpenSettingsAction& defaultOpenSettingsAction();

/// The action for views inside `widget`: that of the nearest enclosing `OpenSettingsInjection`, else the
/// default one.
OpenSettingsAction& openSettings(const QWidget* widget);

/// Registers what the settings link does: show the application's Settings window. Main thread.
void registerSettingsScene(std::function<void()> showSettings);
/// Runs the registered Settings scene, if any.
void openSettingsScene();

/// The legacy road. Throws `FallbackOpenSettingsError::unsupportedPlatform` when `running` is not the legacy
/// road, `selectorNotFound` when neither action is handled.
void legacyOpenSettings(SettingsRoad running = runningRoad());

/// Sends the named action (a method name such as "showSettingsWindow") to the application's delegate, or to
/// the application object when no delegate is set. False when that object has no such invokable method.
bool sendFallbackSettingsAction(const char* action);

/// The object that receives the legacy road's actions; the shell sets its application delegate.
void setApplicationDelegate(QObject* delegate);

} // namespace settingsopener
