#include "lumetrove/captureui/ScreenCapturePermissions.h"

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/platform/DesktopSession.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/ScreenRecordingPermission.h"
#include "lumetrove/platform/SingleInstance.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace lumetrove {
namespace {

void placeWindowAtTopRight(QWidget& window)
{
    const QScreen* screen = QGuiApplication::screens().isEmpty() ? nullptr : QGuiApplication::screens().front();
    if (!screen) {
        return;
    }
    const QRect visible = screen->availableGeometry();
    window.move(visible.right() + 1 - ScreenCapturePermissions::windowWidth - 20, visible.top() + 20);
}

} // namespace

ScreenCapturePermissions& ScreenCapturePermissions::shared()
{
    static ScreenCapturePermissions* instance = new ScreenCapturePermissions;
    return *instance;
}

bool ScreenCapturePermissions::checkScreenCapturePermission()
{
    if (screenCaptureAccessGranted()) {
        return true;
    }
    // The capture engine exists from the first check on; it knows the main window.
    CaptureMainWindow* main = ScreenshotCapture::shared().mainWindow();
    if (main && main->isFullScreen()) {
        return true;
    }
    showGetScreenRecordingPermissionsWindow();
    if (main) {
        main->hide();
    }
    return false;
}

bool ScreenCapturePermissions::windowNameIsReadable(const WindowRecord& window, qint64 ownProcessId)
{
    if (!window.pid || *window.pid <= 0 || *window.pid > std::numeric_limits<qint32>::max() ||
        *window.pid == ownProcessId) {
        return false;
    }
    const QFileInfo executable(QStringLiteral("/proc/%1/exe").arg(*window.pid));
    if (!QFileInfo::exists(QStringLiteral("/proc/%1").arg(*window.pid))) {
        return false; // no such running process
    }
    if (executable.symLinkTarget().section(QLatin1Char('/'), -1) == QLatin1String("Dock")) {
        return false;
    }
    return window.title.has_value();
}

void ScreenCapturePermissions::showGetScreenRecordingPermissionsWindow()
{
    if (window_) {
        window_->close();
    }
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Grant Screen Recording Permissions"));
    window->setFixedSize(windowWidth, windowHeight);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0, 178));
    window->setPalette(palette);
    window->setAutoFillBackground(true);

    auto* title = new QLabel(QStringLiteral("Grant Screen Recording Permissions"), window);
    QFont titleFont = title->font();
    titleFont.setPixelSize(20);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);

    // A Wayland session reads the screen through the desktop portal: there it is the portal that is missing,
    // and starting the program again changes nothing. Any other session that is not X11 cannot be read at all.
    const bool portal = capturesThroughPortal();
    auto* text = new QLabel(portal ? QString::fromLatin1(missingPortalText)
                                   : QStringLiteral("Lumetrove captures the screen through X11, and this desktop "
                                                    "session is not an X11 session, so it cannot read the screen. "
                                                    "Log in to an X11 session (on the login screen, choose a "
                                                    "session \"on Xorg\"), then relaunch Lumetrove."),
                            window);
    text->setObjectName(QStringLiteral("permissionText"));
    QFont textFont = text->font();
    textFont.setPixelSize(15);
    text->setFont(textFont);
    text->setStyleSheet(QStringLiteral("color: grey;"));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(40, 55, 40, 40);
    layout->setSpacing(23);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addStretch();
    if (!portal) {
        auto* relaunch = new QPushButton(QStringLiteral("Finished - Relaunch"), window);
        relaunch->setFixedSize(253, 34);
        relaunch->setStyleSheet(QStringLiteral("QPushButton { color: white; border-radius: 4px; font-size: 14px;"
                                               " background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
                                               " stop:0 rgba(52, 199, 89, 178), stop:1 rgb(52, 199, 89)); }"
                                               " QPushButton:pressed { background: rgba(52, 199, 89, 230); }"));
        QObject::connect(relaunch, &QPushButton::clicked, window, [] { relaunchApp(); });
        layout->addWidget(relaunch, 0, Qt::AlignHCenter);
    }

    window_ = window;
    window->show();
    placeWindowAtTopRight(*window);
    window->raise();
    window->activateWindow();
}

void ScreenCapturePermissions::relaunchApp()
{
    const QString program = QCoreApplication::applicationFilePath();
    // The new instance waits until this one has let go of its lock, and gets none of the files this launch
    // was given: they were handed to this instance already.
    if (!startDetachedProgram(program, relaunchArguments(QCoreApplication::arguments()))) {
        systemLog(QStringLiteral("Could not relaunch ") + program);
        return;
    }
    QCoreApplication::exit(0);
}

} // namespace lumetrove
