#include "lumetrove/captureui/ScreenCaptureOverlays.h"

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/OverlayWindow.h"
#include "lumetrove/captureui/ScreenCapturePermissions.h"
#include "lumetrove/platform/DesktopImage.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace lumetrove {
namespace {

/// How long an overlay waits to be given the keyboard it asked for before it goes without.
constexpr int keyboardHandOverMs = 500;

/// The display server let an overlay wait for the keyboard in vain: it does not give the keyboard on
/// request, and no overlay waits for it again.
bool keyboardRequestsDeclined = false;

/// The overlay that is to take the keyboard before the others close, so that the window coming back on
/// `screen` gets it; none when nothing is to be handed over. A Wayland compositor gives a window it maps the
/// keyboard only on the output whose window has it, and an overlay elsewhere has it after a drag there; the
/// keyboard moves only on a request made from the window that has it, with the input it just had.
OverlayWindow* keyboardHeir(const QList<QPointer<QWidget>>& overlays, QScreen* screen)
{
    if (screen == nullptr || keyboardRequestsDeclined ||
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return nullptr;
    }
    const QWindow* focus = QGuiApplication::focusWindow();
    OverlayWindow* heir = nullptr;
    bool ownsKeyboard = false;
    for (const QPointer<QWidget>& window : overlays) {
        if (!window) {
            continue;
        }
        ownsKeyboard = ownsKeyboard || window->windowHandle() == focus;
        if (window->screen() == screen) {
            heir = qobject_cast<OverlayWindow*>(window.data());
        }
    }
    return ownsKeyboard && heir && heir->windowHandle() != focus ? heir : nullptr;
}

/// Asks for the keyboard for `overlay`, which closes once it has it, or when it waits in vain. Until then it
/// shows its screen as it was, without the selection, and takes no input.
void handKeyboardTo(OverlayWindow& overlay)
{
    for (QWidget* child : overlay.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->hide();
    }
    overlay.setEnabled(false);
    QWindow* window = overlay.windowHandle();
    auto* watch = new QObject(&overlay);
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, watch, [&overlay, window](QWindow* focus) {
        if (focus == window) {
            overlay.close();
        }
    });
    QTimer::singleShot(keyboardHandOverMs, watch, [&overlay] {
        keyboardRequestsDeclined = true;
        overlay.close();
    });
    window->requestActivate();
}

} // namespace

ScreenCaptureOverlays& ScreenCaptureOverlays::installIn(ScreenshotCapture& capture)
{
    if (auto* installed = dynamic_cast<ScreenCaptureOverlays*>(capture.overlays())) {
        return *installed;
    }
    auto overlays = std::make_shared<ScreenCaptureOverlays>();
    capture.setOverlays(overlays);
    return *overlays;
}

void ScreenCaptureOverlays::open(const std::vector<std::pair<QScreen*, QImage>>& screens, bool isAssistant,
                                 bool throughPortal, Handlers handlers)
{
    handlers_ = std::move(handlers);
    throughPortal_ = throughPortal;
    OverlayWindow* underMouse = nullptr;
    for (const auto& [screen, still] : screens) {
        auto* view = new ScreenAreaSelectionView;
        view->isAssistant = isAssistant;
        view->delegate = this;
        if (throughPortal) {
            // Wayland names no other program's window: the details stay empty.
            view->windowLookup = [](QPointF) { return std::optional<WindowDetails>(); };
        }
        auto* overlay = new OverlayWindow(*screen, ScreenshotCapture::screenshotWindowOverlayWindowLevel, view, still);
        windows_.append(overlay);
        overlay->showOverScreen();
        if (screen->geometry().contains(QCursor::pos())) {
            underMouse = overlay;
        }
    }
    // The keyboard goes to the screen the user is looking at.
    if (underMouse) {
        underMouse->activateWindow();
    }
}

void ScreenCaptureOverlays::showStills(const DesktopImage& desktop)
{
    for (const QPointer<QWidget>& window : windows_) {
        if (auto* overlay = qobject_cast<OverlayWindow*>(window.data())) {
            overlay->setFrozenScreen(desktop.part(overlay->screen()->geometry()));
        }
    }
}

void ScreenCaptureOverlays::close(QScreen* keyboardTo)
{
    // The keyboard is asked for while the overlay that has it is still there to ask.
    OverlayWindow* heir = keyboardHeir(windows_, keyboardTo);
    if (heir) {
        handKeyboardTo(*heir);
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != heir && widget->property(OverlayWindow::levelProperty).toInt() ==
                                  ScreenshotCapture::screenshotWindowOverlayWindowLevel) {
            widget->close();
        }
    }
    windows_.clear();
}

void ScreenCaptureOverlays::showPermissionWindow()
{
    ScreenCapturePermissions::shared().showGetScreenRecordingPermissionsWindow();
}

void ScreenCaptureOverlays::didSelectArea(ScreenAreaSelectionView& view, QRectF area,
                                          std::optional<WindowDetails> details)
{
    QPointF origin;
    if (throughPortal_) {
        // Each overlay covers its screen exactly, and Wayland tells no program where its windows are: the
        // screen's place is the overlay's.
        const QWidget* overlay = view.window();
        origin = overlay->screen()->geometry().topLeft() + view.mapTo(overlay, QPoint(0, 0));
    } else {
        origin = view.mapToGlobal(QPointF(0, 0));
    }
    if (handlers_.selected) {
        // The handler may close the overlays, and this view with them: a copy outlives them.
        const auto selected = handlers_.selected;
        selected(area.translated(origin), std::move(details));
    }
}

void ScreenCaptureOverlays::endCapture(CaptureResult result)
{
    if (handlers_.ended) {
        const auto ended = handlers_.ended;
        ended(result);
    }
}

} // namespace lumetrove
