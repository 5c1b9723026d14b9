#include "lumetrove/app/LumetroveApp.h"

#include "lumetrove/app/AppCommands.h"
#include "lumetrove/app/AppDelegate.h"
#include "lumetrove/app/AppState.h"
#include "lumetrove/app/AssistantActions.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/SettingsView.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/app/WidgetCaptureMainWindow.h"
#include "lumetrove/app/WindowFit.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/NamedColors.h"
#include "lumetrove/platform/SingleInstance.h"
#include "lumetrove/platform/SoftwareUpdater.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "settingsopener/OpenSettingsAction.h"
#include "settingsopener/OpenSettingsInjection.h"
#include "sqlite/Connection.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMainWindow>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <unistd.h>

namespace lumetrove {

namespace {

constexpr int handOverTimeoutMs = 2000;
// The instance that holds the lock may not listen yet: it took the lock a moment ago.
constexpr int listenerWaitMs = 10000;
// A relaunch waits this long for the instance that started it to quit.
constexpr int relaunchWaitMs = 15000;

QByteArray encodeFileList(const QList<QUrl>& files)
{
    QJsonArray list;
    for (const QUrl& url : files) {
        list.append(url.toString(QUrl::FullyEncoded));
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n';
}

QList<QUrl> decodeFileList(const QByteArray& data)
{
    QList<QUrl> files;
    const QJsonDocument document = QJsonDocument::fromJson(data.trimmed());
    for (const auto& value : document.array()) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile()) {
            files << url;
        }
    }
    return files;
}

} // namespace

LumetroveApp::LumetroveApp(QStringList arguments, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)), updater_(std::make_unique<SoftwareUpdater>())
{}

LumetroveApp::~LumetroveApp()
{
    delete mainWindow_;
    delete settingsWindow_;
}

QList<QUrl> LumetroveApp::fileArguments(const QStringList& arguments)
{
    QList<QUrl> files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) {
            continue;
        }
        const QUrl url = argument.startsWith(QLatin1String("file:"))
                             ? QUrl(argument)
                             : QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath());
        if (url.isValid() && url.isLocalFile()) {
            files << url;
        }
    }
    return files;
}

QString LumetroveApp::instanceSocketPath()
{
    const std::optional<QString> directory = privateRuntimeDirectory();
    return directory ? *directory + QStringLiteral("/lumetrove-instance") : QString();
}

QString LumetroveApp::instanceLockPath()
{
    const std::optional<QString> directory = privateRuntimeDirectory();
    return directory ? *directory + QStringLiteral("/lumetrove-instance.lock") : QString();
}

bool LumetroveApp::start()
{
    QApplication::setQuitOnLastWindowClosed(false);
    if (!becomeTheRunningInstance()) {
        return false;
    }
    const QList<QUrl> files = fileArguments(arguments_);
    keepPlaceholdersReadable();

    firstLaunchChecker_ = new FirstLaunchChecker([] { return sharedCaptureService().screenRecordingGranted(); }, this);
    settingsViewModel_ = new SettingsViewModel(this);
    appDelegate_ = new AppDelegate(this);
    appDelegate_->setPermissionCheck([] { return sharedCaptureService().checkScreenCapturePermission(); });
    // Closed to the tray, the library's page cache (a few megabytes) goes back; the next list reads the file.
    appDelegate_->setCachesRelease([store = ScreenshotsDB::shared()] { store->releaseCaches(); });
    // Closed to the tray, the list's rows go too; the window reads them again when it is shown.
    appDelegate_->setRowsRelease([this] {
        if (contentView_ != nullptr) {
            contentView_->screenshotsListManager().releaseRows();
        }
    });
    settingsopener::setApplicationDelegate(appDelegate_);
    settingsopener::registerSettingsScene([this] { showSettingsWindow(); });
    // The tray icon first, sent to the desktop at once: it is there while the main window and its list load.
    appDelegate_->showStatusItem();
    QGuiApplication::sync();

    buildSettingsWindow();
    buildMainWindow();
    // Files named on the command line wait in the shared handler until the main window has come up.
    appDelegate_->openURLs(files);
    // Later launches are heard from now on, each handing its files to the window that takes them at once: the
    // handler holds one list, and two handed to it before the window came up would lose the first. They wait
    // for the listener meanwhile.
    if (instanceLock_ != nullptr) {
        listenForLaterLaunches();
    }
    mainWindow_->show();

    QTimer::singleShot(0, this, [this] {
        appDelegate_->applicationDidFinishLaunching(mainWindow_);
        // Where the desktop has no notification service, the tray shows the assistant's messages.
        setNotificationFallback([this](const QString& title, const QString& body) {
            if (QSystemTrayIcon* tray = appDelegate_->statusBarItem(); tray != nullptr && tray->isVisible()) {
                tray->showMessage(title, body);
            }
        });
    });
    return true;
}

bool LumetroveApp::becomeTheRunningInstance()
{
    const QString lockPath = instanceLockPath();
    if (lockPath.isEmpty()) {
        // Nowhere to meet other launches safely: this one runs on its own, and neither sends its files to a
        // listener nor listens, so that no other user can take part.
        systemLog(QStringLiteral("No private runtime directory: this launch runs without looking for another one"));
        return true;
    }
    const bool relaunched = arguments_.contains(QString::fromLatin1(relaunchArgument));
    instanceLock_ = InstanceLock::acquire(lockPath, relaunched ? relaunchWaitMs : 0);
    if (instanceLock_ == nullptr) {
        if (!handOverToRunningInstance(fileArguments(arguments_))) {
            systemLog(QStringLiteral("Lumetrove already runs, but could not be handed this launch's files"));
        }
        return false;
    }
    return true;
}

bool LumetroveApp::handOverToRunningInstance(const QList<QUrl>& files)
{
    return sendToLaunchListener(instanceSocketPath(), encodeFileList(files), listenerWaitMs, handOverTimeoutMs);
}

void LumetroveApp::listenForLaterLaunches()
{
    // This instance holds the lock, so a socket found there was left behind by one that was killed.
    QString error;
    instanceListener_ = LaunchListener::listen(instanceSocketPath(), this, error);
    if (instanceListener_ == nullptr) {
        systemLog(QStringLiteral("Could not listen for later launches: ") + error);
        return;
    }
    // A quitting instance takes no more files: they would be lost with it.
    connect(qApp, &QCoreApplication::aboutToQuit, instanceListener_, &LaunchListener::close);
    connect(instanceListener_, &LaunchListener::received, this, [this](const QByteArray& bytes) {
        // Handed over while the user chooses an area, the files wait for the capture to end: the window (and
        // any report of files left out, over it) would take the keyboard from the overlay, and the window
        // comes back where the capture leaves it.
        ScreenshotCapture::shared().afterMainWindowGivenBack(this, [this, files = decodeFileList(bytes)] {
            appDelegate_->openURLs(files);
            appDelegate_->showScreenshotsWindow();
        });
    });
}

void LumetroveApp::buildMainWindow()
{
    const std::shared_ptr<ScreenshotsDB>& store = ScreenshotsDB::shared();
    foldersListManager_ = new FoldersListManager(store, this);
    mainWindow_ = new QMainWindow();
    mainWindow_->setObjectName(QStringLiteral("main"));
    mainWindow_->setWindowTitle(QString::fromLatin1(mainWindowTitle));
    mainWindow_->setWindowIcon(QIcon(QStringLiteral(":/app/MenuItem.png")));
    // A capture hides this window while the user chooses an area, and gives it back.
    ScreenshotCapture::shared().setMainWindow(std::make_shared<WidgetCaptureMainWindow>(mainWindow_));
    ScreenCaptureOverlays::installIn(ScreenshotCapture::shared());
    contentView_ = new ContentView({.makeScreenshotsListManager = [store] { return new ScreenshotsListManager(store); },
                                    .foldersListManager = *foldersListManager_,
                                    .appState = AppState::shared(),
                                    .minimumWindowSizeWithFirstLaunchArrow = QSize(1390, 700),
                                    .urlHandler = &URLHandler::shared(),
                                    .firstLaunchChecker = firstLaunchChecker_,
                                    .settingsViewModel = settingsViewModel_,
                                    .store = store});
    auto* injected = settingsopener::withOpenSettingsInjection(contentView_, mainWindow_);
    mainWindow_->setCentralWidget(injected);
    mainWindow_->addToolBar(contentView_->toolbar());
    installAppCommands(*mainWindow_, *updater_);
    // The default size and the minimums are kept where the screen has room for them.
    auto* fit = new MainWindowFit(*mainWindow_, *contentView_, QSize(1400, 800));
    connect(contentView_, &ContentView::minimumWindowSizeChanged, fit, &MainWindowFit::setWantedMinimumSize);
    fit->setWantedMinimumSize(contentView_->minimumWindowSize());
}

void LumetroveApp::buildSettingsWindow()
{
    settingsWindow_ = new SettingsView(*settingsViewModel_);
    settingsWindow_->setWindowTitle(QStringLiteral("Settings"));
    settingsWindow_->setWindowFlag(Qt::Window);
    // Its closing is seen here, to hand the keyboard back to the main window.
    settingsWindow_->installEventFilter(this);
}

bool LumetroveApp::eventFilter(QObject* watched, QEvent* event)
{
    // A desktop without a window manager gives the keyboard to no window when the one that had it goes: the
    // main window, still on the screen, takes it back, as a window manager would hand it.
    if (watched == settingsWindow_ && event->type() == QEvent::Hide && !event->spontaneous() && mainWindow_ &&
        mainWindow_->isVisible() && !mainWindow_->isMinimized()) {
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    return QObject::eventFilter(watched, event);
}

void LumetroveApp::showSettingsWindow()
{
    if (settingsWindow_ == nullptr) {
        return;
    }
    if (!settingsWindow_->isVisible()) {
        // Laid out at its own size and centred over the main window's screen before it is mapped: a window
        // manager that places it by the size it had before its layout ran can leave a part of it off the screen.
        settingsWindow_->adjustSize();
        if (const QScreen* screen = mainWindow_ ? mainWindow_->screen() : QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), settingsWindow_->size());
            frame.moveCenter(screen->availableGeometry().center());
            settingsWindow_->move(frame.topLeft());
        }
    }
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

} // namespace lumetrove
