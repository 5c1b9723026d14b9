#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QUrl>
#include <functional>

class QImage;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace lumetrove {

/// Where the parts of the "New" badge go, for a text measured at `textSize`.
struct AIBadgeLayout {
    QSize imageSize;
    QPoint textOrigin; ///< top-left of the text box, origin at the image's top-left
    qreal cornerRadius = 0;
};

/// The badge's geometry: the image is the rounded text width plus 24 by the rounded text height plus 6, a
/// capsule (corner radius half the height), the text centred and nudged one point right.
AIBadgeLayout aiBadgeLayout(QSizeF textSize);

/// The small "New" capsule shown beside the status menu's "AI Assistant" item where the menu's icons are large
/// enough to hold it; smaller ones show the assistant's symbol.
QImage makeAIBadgeImage();

/// The title of the main window while its root view is shown; the shell finds the window by it.
inline constexpr const char* mainWindowTitle = "Screenshots";

/// The application's tray presence and its answers to the desktop: the status (tray) menu, hiding the main
/// window instead of closing it, files handed to the application, and the screen-recording check at launch.
/// One instance for the application's life. Main thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    /// When launching finishes: becomes the close guard of `firstWindow` and builds the tray item and its menu.
    /// Asks the permission check and closes `firstWindow` when it reports false.
    void applicationDidFinishLaunching(QWidget* firstWindow);

    /// Shows the tray item; the first time also becomes the close guard of `firstWindow` and asks the
    /// permission check.
    void setupStatusBarMenu(QWidget* firstWindow);

    /// Builds and shows the tray icon and its menu, once. The application shows it before it builds its main
    /// window, so that the icon is there while the library loads.
    void showStatusItem();

    /// False for a window titled exactly "Screenshots", after hiding it (the application stays reachable from
    /// the tray); true for any other window.
    bool windowShouldClose(QWidget* window);

    /// The main window was shown again: the window itself takes the keyboard focus, no view inside keeps it.
    void applicationDidUnhide();

    /// Files handed to the application: replaces the shared URL handler's list; an empty list is ignored.
    void openURLs(const QList<QUrl>& urls);

    /// The screen-recording check run when launching finishes; it shows its own window when it answers false.
    /// Until set, permission counts as granted.
    void setPermissionCheck(std::function<bool()> check) { permissionCheck_ = std::move(check); }

    /// Empties caches that the program refills when the window is shown again; run on the thread pool each time
    /// the window has closed to the tray, before the freed memory goes back to the system.
    void setCachesRelease(std::function<void()> release) { releaseCaches_ = std::move(release); }
    /// Lets go of the rows the main window's list holds; run on this thread each time the user closes the
    /// window to the tray (not when a capture hides it for a moment), before the caches are released.
    void setRowsRelease(std::function<void()> release) { releaseRows_ = std::move(release); }

    QSystemTrayIcon* statusBarItem() const { return statusBarItem_; }
    QMenu* menu() const { return menu_; }

    /// Whether the desktop shows tray icons; without one, closing the main window minimises it instead, so
    /// every action stays reachable.
    static bool trayAvailable();

public slots:
    /// Shows, raises and activates the window titled "Screenshots", when there is one.
    void showScreenshotsWindow();
    /// Sends the shared state's Settings signal and shows the Settings window's owner.
    void showSettings();
    /// Post "takeScreenshot" with no user info, with "shouldAIProcess", or with both keys.
    void takeScreenshot();
    void takeScreenshotAndAIProcess();
    void takeAssistantScreenshot();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// A left click on the tray's icon; `inputSeen`: whether any press has reached the program's windows.
    void openMenuFromTray(bool inputSeen);

    QPointer<QWidget> guardedWindow_;
    /// Set while the program closes the guarded window itself (as it quits, or when permission is missing),
    /// which no guard stops.
    bool closingGuardedWindow_ = false;
    bool launched_ = false;
    QSystemTrayIcon* statusBarItem_ = nullptr;
    QMenu* menu_ = nullptr;
    std::function<bool()> permissionCheck_ = [] { return true; };
    std::function<void()> releaseCaches_;
    std::function<void()> releaseRows_;
};

/// The first top-level window titled exactly "Screenshots"; null when there is none.
QWidget* findScreenshotsWindow();

} // namespace lumetrove
