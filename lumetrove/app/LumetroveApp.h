#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <memory>

class QWidget;

namespace lumetrove {

class AppDelegate;
class ContentView;
class FirstLaunchChecker;
class FoldersListManager;
class InstanceLock;
class LaunchListener;
class SettingsViewModel;
class SoftwareUpdater;

/// The top of the application: the shared state it owns, the main window ("Screenshots") and the Settings
/// window, the tray, and the hand-over between a second launch and the running one. Main thread.
class LumetroveApp : public QObject {
    Q_OBJECT
public:
    /// `arguments` are the program's (the first is the program itself); the others are files to import.
    explicit LumetroveApp(QStringList arguments, QObject* parent = nullptr);
    ~LumetroveApp() override;

    /// Either hands the files to the instance that already runs (it shows its window) and returns false (the
    /// caller then exits), or becomes the running instance: builds the windows and the tray, and returns true.
    /// Of copies started at once exactly one runs: the one that takes the lock in the private runtime
    /// directory. A launch with `relaunchArgument` waits for the instance before it to let go of the lock.
    /// Text is recognised by the process-wide recogniser (`sharedTextRecognizer`): unless one was set, helper
    /// processes of the helper program installed beside this one.
    bool start();

    QMainWindow* mainWindow() const { return mainWindow_; }
    ContentView* contentView() const { return contentView_; }
    QWidget* settingsWindow() const { return settingsWindow_; }
    AppDelegate& appDelegate() const { return *appDelegate_; }
    SettingsViewModel& settingsViewModel() const { return *settingsViewModel_; }

    /// Shows the Settings window, raised and focused. When it closes, the main window, if shown, has the
    /// keyboard again.
    void showSettingsWindow();

    /// The files named on a command line, as absolute file URLs; arguments that start with "-" are options.
    static QList<QUrl> fileArguments(const QStringList& arguments);
    /// Where the running instance listens for later launches: in the user's private runtime directory
    /// (`privateRuntimeDirectory`); empty when there is none.
    static QString instanceSocketPath();
    /// Where the running instance holds its lock; empty when there is no private runtime directory.
    static QString instanceLockPath();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handOverToRunningInstance(const QList<QUrl>& files);
    bool becomeTheRunningInstance();
    void listenForLaterLaunches();
    void buildMainWindow();
    void buildSettingsWindow();

    QStringList arguments_;
    std::unique_ptr<SoftwareUpdater> updater_;
    FirstLaunchChecker* firstLaunchChecker_ = nullptr;
    SettingsViewModel* settingsViewModel_ = nullptr;
    AppDelegate* appDelegate_ = nullptr;
    std::unique_ptr<InstanceLock> instanceLock_;
    LaunchListener* instanceListener_ = nullptr;
    FoldersListManager* foldersListManager_ = nullptr;
    QPointer<QMainWindow> mainWindow_;
    QPointer<ContentView> contentView_;
    QPointer<QWidget> settingsWindow_;
};

} // namespace lumetrove
