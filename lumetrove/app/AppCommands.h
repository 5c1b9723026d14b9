#pragma once

#include <QObject>

class QMainWindow;
class QWidget;

namespace lumetrove {

class SoftwareUpdater;

/// Mirrors the updater's "can check" state: false until the updater reports, then each value it reports.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    explicit CheckForUpdatesViewModel(SoftwareUpdater& updater, QObject* parent = nullptr);
    bool canCheckForUpdates() const { return canCheckForUpdates_; }

signals:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void assign(bool canCheck);
    bool canCheckForUpdates_ = false;
};

/// The support address that "Feedback" writes to.
inline constexpr const char* feedbackAddress = "mailto:support@lumetrove.app";

/// Posts "takeScreenshot" with no user info.
void postTakeScreenshot();
/// Posts "takeScreenshot" with "shouldAIProcess" and "aiAssistant" both true.
void postAIAssistantScreenshot();
/// Posts "deleteSelectedScreenshot" with no user info.
void postDeleteSelectedScreenshot();

/// True when `widget` edits text, so that Delete, Backspace and the pasteboard keys belong to it.
bool editsText(const QWidget* widget);

/// Sends a standard edit action ("selectAll", "cut", "copy", "paste") to the widget that has the keyboard
/// focus; nothing happens when none has, or it does not handle the action.
void sendResponderAction(const char* action);

/// Opens the feedback mail link; an address that does not form a URL is ignored.
void feedbackAction();

/// Builds the main window's menu bar: "Lumetrove" (Check for Updates…, Settings..., Quit), "File" (New
/// Screenshot, AI Assistant), "Edit" (Delete, Select All, Cut, Copy, Paste) and "Help" (Feedback). Ctrl
/// stands for Command. Delete answers both Delete and Backspace, but never while a text field has the focus.
/// Each menu opens with Alt and its title's first letter, and F10 opens the first.
void installAppCommands(QMainWindow& window, SoftwareUpdater& updater);

} // namespace lumetrove
