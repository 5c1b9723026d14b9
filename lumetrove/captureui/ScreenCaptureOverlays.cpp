#include "lumetrove/captureui/ScreenCaptureOverlays.h"

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/OverlayWindow.h"
#include "lumetrove/captureui/ScreenCapturePermissions.h"
#include "lumetrove/platform/DesktopImage.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

namespace lumetrove {

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

void ScreenCaptureOverlays::close()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->property(OverlayWindow::levelProperty).toInt() ==
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
