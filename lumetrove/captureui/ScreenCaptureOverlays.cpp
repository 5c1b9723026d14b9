#include "lumetrove/captureui/ScreenCaptureOverlays.h"

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/OverlayWindow.h"
#include "lumetrove/captureui/ScreenCapturePermissions.h"
#include "lumetrove/platform/DesktopImage.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace lumetrove {
namespace {

/// How long the overlays wait for the keyboard to move before they go without.
constexpr int keyboardHandOverMs = 500;

/// The display server let an overlay wait for the keyboard in vain: it does not give the keyboard on
/// request, and no overlay waits for it again.
bool keyboardRequestsDeclined = false;

/// The overlay window that last had a key or a button pressed in it: the compositor gives the keyboard to the
/// window clicked in at once, Qt learns it a moment later.
QPointer<QWindow> lastPressedOverlay;

class PressWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress) {
            lastPressedOverlay = qobject_cast<QWindow*>(watched);
        }
        return false;
    }
};

/// Who hands the keyboard to whom when the overlays close.
struct KeyboardHandOver {
    OverlayWindow* holder = nullptr; ///< the overlay that has the keyboard
    OverlayWindow* heir = nullptr;   ///< the overlay on the screen that is to have it
};

/// The hand-over that lets the window coming back on `screen` get the keyboard; none when nothing is to be
/// handed over. A Wayland compositor gives a window it maps the keyboard only on the output whose window has
/// it, and an overlay elsewhere has it after a click or a drag there; the keyboard moves only on a request made
/// from the window that has it, with the input it just had.
std::optional<KeyboardHandOver> keyboardHandOver(const QList<QPointer<QWidget>>& overlays, QScreen* screen)
{
    if (screen == nullptr || keyboardRequestsDeclined ||
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return std::nullopt;
    }
    const QWindow* focus = lastPressedOverlay ? lastPressedOverlay.data() : QGuiApplication::focusWindow();
    KeyboardHandOver handOver;
    for (const QPointer<QWidget>& window : overlays) {
        auto* overlay = qobject_cast<OverlayWindow*>(window.data());
        if (overlay == nullptr) {
            continue;
        }
        if (overlay->windowHandle() == focus) {
            handOver.holder = overlay;
        }
        if (overlay->screen() == screen) {
            handOver.heir = overlay;
        }
    }
    if (handOver.holder == nullptr || handOver.heir == nullptr || handOver.holder == handOver.heir) {
        return std::nullopt;
    }
    return handOver;
}

/// Shows the overlay's screen as it was, without the selection, and takes no input there any more.
void quieten(OverlayWindow& overlay)
{
    for (QWidget* child : overlay.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->hide();
    }
    overlay.setEnabled(false);
}

/// Asks, from the holder once Qt knows it has the keyboard, for the keyboard for the heir. The holder closes
/// once it has asked, the heir once it has the keyboard; both when they wait in vain.
void handKeyboardOver(const KeyboardHandOver& handOver)
{
    OverlayWindow& holder = *handOver.holder;
    OverlayWindow& heir = *handOver.heir;
    quieten(holder);
    quieten(heir);
    QWindow* holderWindow = holder.windowHandle();
    const QPointer<QWindow> heirWindow = heir.windowHandle();
    auto* watch = new QObject(&heir);
    const QPointer<OverlayWindow> asker(&holder);
    const auto ask = [asker, heirWindow] {
        // Qt asks from the window it knows to have the keyboard.
        if (heirWindow && heirWindow->isVisible()) {
            heirWindow->requestActivate();
        }
        if (asker) {
            asker->close();
        }
    };
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, watch,
                     [&heir, holderWindow, heirWindow, ask](QWindow* focus) {
                         if (focus == holderWindow) {
                             ask();
                         } else if (focus == heirWindow) {
                             heir.close();
                         }
                     });
    QTimer::singleShot(keyboardHandOverMs, watch, [&heir, asker] {
        keyboardRequestsDeclined = asker.isNull();
        if (asker) {
            asker->close();
        }
        heir.close();
    });
    if (QGuiApplication::focusWindow() == holderWindow) {
        ask();
    }
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
        overlay->windowHandle()->installEventFilter(new PressWatch(overlay));
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
    // The two overlays of a hand-over stay until it is done.
    const std::optional<KeyboardHandOver> handOver = keyboardHandOver(windows_, keyboardTo);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (handOver && (widget == handOver->holder || widget == handOver->heir)) {
            continue;
        }
        if (widget->property(OverlayWindow::levelProperty).toInt() ==
            ScreenshotCapture::screenshotWindowOverlayWindowLevel) {
            widget->close();
        }
    }
    windows_.clear();
    lastPressedOverlay.clear();
    if (handOver) {
        heir_ = handOver->heir;
        handKeyboardOver(*handOver);
    }
}

void ScreenCaptureOverlays::afterKeyboardHandOver(QObject* context, std::function<void()> then)
{
    if (!heir_) {
        then();
        return;
    }
    QObject::connect(heir_, &QObject::destroyed, context, std::move(then), Qt::SingleShotConnection);
}

void ScreenCaptureOverlays::showPermissionWindow()
{
    ScreenCapturePermissions::shared().showGetScreenRecordingPermissionsWindow();
}

QPointF ScreenCaptureOverlays::originOf(const ScreenAreaSelectionView& view) const
{
    if (throughPortal_) {
        // Each overlay covers its screen exactly, and Wayland tells no program where its windows are: the
        // screen's place is the overlay's.
        const QWidget* overlay = view.window();
        return overlay->screen()->geometry().topLeft() + view.mapTo(overlay, QPoint(0, 0));
    }
    return view.mapToGlobal(QPointF(0, 0));
}

void ScreenCaptureOverlays::didSelectArea(ScreenAreaSelectionView& view, QRectF area,
                                          std::optional<WindowDetails> details)
{
    if (handlers_.selected) {
        // The handler may close the overlays, and this view with them: a copy outlives them.
        const auto selected = handlers_.selected;
        selected(area.translated(originOf(view)), std::move(details));
    }
}

void ScreenCaptureOverlays::selectionDidChange(ScreenAreaSelectionView& view, QRectF area)
{
    const QRectF global = area.isEmpty() ? QRectF() : area.translated(originOf(view));
    for (const QPointer<QWidget>& window : windows_) {
        auto* other = window ? window->findChild<ScreenAreaSelectionView*>() : nullptr;
        if (other != nullptr && other != &view) {
            other->setCrossingSelection(global.isEmpty() ? QRectF() : global.translated(-originOf(*other)));
        }
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
