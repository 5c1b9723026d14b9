#pragma once

#include "lumetrove/capture/CaptureOverlays.h"
#include "lumetrove/captureui/ScreenAreaSelectionView.h"

#include <QList>
#include <QPointer>
#include <QWidget>

namespace lumetrove {

class ScreenshotCapture;

/// The capture's overlays as frameless windows over the screens, each holding a `ScreenAreaSelectionView`,
/// and the permission window of `ScreenCapturePermissions`. Main thread.
class ScreenCaptureOverlays : public CaptureOverlays, public ScreenAreaSelectionViewDelegate {
public:
    /// The overlays that `capture` shows, installed in it first when it shows others or none.
    static ScreenCaptureOverlays& installIn(ScreenshotCapture& capture);

    void open(const std::vector<std::pair<QScreen*, QImage>>& screens, bool isAssistant, bool throughPortal,
              Handlers handlers) override;
    bool isOpen() const override { return !windows_.isEmpty(); }
    void showStills(const DesktopImage& desktop) override;
    void close(QScreen* keyboardTo) override;
    void afterKeyboardHandOver(QObject* context, std::function<void()> then) override;
    void showPermissionWindow() override;

    /// The overlay windows of the capture under way.
    const QList<QPointer<QWidget>>& windows() const { return windows_; }

    /// `area` is in the view's coordinates; the capture engine gets it in global ones.
    void didSelectArea(ScreenAreaSelectionView& view, QRectF area, std::optional<WindowDetails> details) override;
    void endCapture(CaptureResult result) override;
    /// Each other overlay draws its part of the selection.
    void selectionDidChange(ScreenAreaSelectionView& view, QRectF area) override;

private:
    /// Where `view`'s top-left corner lies, in Qt's global logical coordinates.
    QPointF originOf(const ScreenAreaSelectionView& view) const;

    QList<QPointer<QWidget>> windows_;
    /// The overlay that waits for the keyboard after the others closed.
    QPointer<QWidget> heir_;
    Handlers handlers_;
    bool throughPortal_ = false;
};

} // namespace lumetrove
