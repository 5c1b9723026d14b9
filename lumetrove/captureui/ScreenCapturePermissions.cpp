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
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <utility>
#include <vector>

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

void present(QWidget& window)
{
    window.show();
    placeWindowAtTopRight(window);
    window.raise();
    window.activateWindow();
}

/// The window's keys and its button: Escape closes it; Return presses the button, or closes the window that
/// has none.
void addControls(QWidget& window, QVBoxLayout& layout, bool portal)
{
    if (!portal) {
        auto* relaunch = new QPushButton(QStringLiteral("Finished - Relaunch"), &window);
        relaunch->setFixedSize(253, 34);
        relaunch->setStyleSheet(QStringLiteral("QPushButton { color: white; border-radius: 4px; font-size: 14px;"
                                               " background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
                                               " stop:0 rgba(52, 199, 89, 178), stop:1 rgb(52, 199, 89)); }"
                                               " QPushButton:pressed { background: rgba(52, 199, 89, 230); }"));
        QObject::connect(relaunch, &QPushButton::clicked, &window, [] { ScreenCapturePermissions::relaunchApp(); });
        // Return presses it: it has the keyboard focus, as the window's only control.
        relaunch->setAutoDefault(true);
        layout.addWidget(relaunch, 0, Qt::AlignHCenter);
    } else {
        // Only words to read: Return dismisses them, as it would a message box's only button.
        for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
            QObject::connect(new QShortcut(key, &window), &QShortcut::activated, &window, &QWidget::close);
        }
    }
    QObject::connect(new QShortcut(QKeySequence(Qt::Key_Escape), &window), &QShortcut::activated, &window,
                     &QWidget::close);
}

bool fullScreen(const QWindow& window)
{
    return window.windowStates().testFlag(Qt::WindowFullScreen);
}

/// A window of the program that is being shown and is not on screen as it will stay: not drawn yet, or asked
/// to be full screen. A compositor may grant full screen only once the window is mapped, after a first
/// answer without it.
struct ComingWindow {
    QPointer<QWindow> window;
    bool askedFullScreen = false;
    bool wasFullScreen = false;

    bool settled() const
    {
        return !window || !window->isVisible() ||
               (window->isExposed() && !fullScreen(*window) && (!askedFullScreen || wasFullScreen));
    }
};

/// The program's other windows that are being shown and are not settled on screen yet.
std::vector<ComingWindow> windowsComingUp(const QWidget& except)
{
    std::vector<ComingWindow> coming;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        const ComingWindow candidate{window, fullScreen(*window)};
        if (window != except.windowHandle() && window->type() != Qt::Popup && window->type() != Qt::ToolTip &&
            !candidate.settled()) {
            coming.push_back(candidate);
        }
    }
    return coming;
}

/// Presents `window` once the windows in `coming` have settled. A compositor gives the keyboard to the window
/// it maps last, though not to one mapped while another is full screen, and requests for the keyboard later
/// may only mark the window (sway's default). The main window that a capture has just given back comes up
/// full screen on its own output for a moment: shown before it has left full screen, this window would come
/// up without the keyboard, behind it.
class PresentAfter : public QObject {
public:
    PresentAfter(QWidget& window, std::vector<ComingWindow> coming) : QObject(&window), coming_(std::move(coming))
    {
        for (const ComingWindow& other : coming_) {
            other.window->installEventFilter(this);
            connect(other.window, &QWindow::visibleChanged, this, &PresentAfter::presentWhenSettled);
            connect(other.window, &QObject::destroyed, this, &PresentAfter::presentWhenSettled, Qt::QueuedConnection);
        }
        // A window that never settles (one the user keeps full screen, or on a workspace nobody looks at)
        // holds nothing up for long.
        QTimer::singleShot(2000, this, &PresentAfter::presentNow);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose || event->type() == QEvent::WindowStateChange) {
            for (ComingWindow& other : coming_) {
                if (other.window == watched && other.window->isExposed() && fullScreen(*other.window)) {
                    other.wasFullScreen = true;
                }
            }
            // After the window has drawn itself in answer: that frame is what the compositor shows.
            QTimer::singleShot(0, this, &PresentAfter::presentWhenSettled);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void presentWhenSettled()
    {
        if (std::all_of(coming_.begin(), coming_.end(), [](const ComingWindow& other) { return other.settled(); })) {
            // After the last change has reached the compositor.
            QTimer::singleShot(0, this, &PresentAfter::presentNow);
        }
    }

    void presentNow()
    {
        if (std::exchange(done_, true)) {
            return;
        }
        deleteLater();
        present(*static_cast<QWidget*>(parent()));
    }

    std::vector<ComingWindow> coming_;
    bool done_ = false;
};

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
    addControls(*window, *layout, portal);

    window_ = window;
    if (std::vector<ComingWindow> coming = windowsComingUp(*window); !coming.empty()) {
        new PresentAfter(*window, std::move(coming));
    } else {
        present(*window);
    }
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
