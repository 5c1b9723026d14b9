#pragma once

#include "lumetrove/capture/CaptureMainWindow.h"

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <optional>

namespace lumetrove {

/// The shell's main window as the capture engine sees it. It follows the widget by a guarded pointer: once
/// the widget is gone, every call does nothing and it counts as hidden. A window hidden here and shown again
/// comes back where it was, at the same size. Main thread.
class WidgetCaptureMainWindow : public CaptureMainWindow {
public:
    explicit WidgetCaptureMainWindow(QWidget* window) : window_(window) {}

    bool isVisible() const override;
    bool isMinimized() const override;
    bool isFullScreen() const override;
    void showNormal() override;
    void setOpacity(qreal opacity) override;
    void hide() override;
    void show() override;
    void bringToFront() override;

private:
    QPointer<QWidget> window_;
    /// The window's place on the desktop (without its frame) when it was last hidden here.
    std::optional<QRect> hiddenGeometry_;
};

} // namespace lumetrove
