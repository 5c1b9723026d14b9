#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

namespace lumetrove {

/// Tells when the X11 screen shows what lay below a top-level window that is being hidden: its frame has left
/// the screen (or, for a window made transparent, the compositor has drawn it again) and every pixel it
/// covered has been drawn since, by the server (the desktop's background, window backgrounds) or by the
/// programs whose windows it uncovered, as the server's damage reports tell. Only then does a grab of the
/// screen show no trace of the window. Made before the window is hidden; main thread.
class ScreenUncoverWatch : public QObject, public QAbstractNativeEventFilter {
public:
    /// Watches `window` (an X11 window id of this program). `unmapped`: the window is about to be unmapped,
    /// so only what is drawn after its frame left counts; otherwise it is made transparent and stays mapped.
    /// Null off X11, for no window, or when the server has no damage reports (then nothing tells when the
    /// screen is drawn again).
    static std::unique_ptr<ScreenUncoverWatch> start(quintptr window, bool unmapped);
    ~ScreenUncoverWatch() override;

    /// Calls `done` once, on the main thread's event loop, as soon as the screen shows no trace of the window,
    /// and at the latest after `patience` (a program that never repaints the uncovered part cannot hold the
    /// caller up). Destroying the watch first calls nothing.
    void whenUncovered(std::chrono::milliseconds patience, std::function<void()> done);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    ScreenUncoverWatch() = default;
    void check();
    void finish();
    void release();

    void* connection_ = nullptr;
    quint32 frame_ = 0;
    /// The window itself is its frame (no window manager): the toolkit already hears of its unmapping.
    bool frameIsWindow_ = false;
    quint32 damage_ = 0;
    quint8 damageEvent_ = 0;
    bool waitForUnmap_ = false;
    bool frameGone_ = false;
    /// What must be drawn again, and what has been, in root-window pixels.
    QRegion uncovered_;
    QRegion drawn_;
    std::function<void()> done_;
    QTimer patience_;
    bool released_ = false;
};

} // namespace lumetrove
