#include "lumetrove/capture/ScreenshotWindowDetails.h"

#include <QCoreApplication>

namespace lumetrove {

WindowDetails initFromWindowInfo(const WindowRecord& window, const std::vector<ScreenGeometry>& screens)
{
    WindowDetails details;
    details.frame = nativeToLogical(window.frame, screens);
    details.applicationName = window.className;
    if (window.pid && *window.pid >= 0 && *window.pid <= std::numeric_limits<qint32>::max()) {
        details.applicationOwnerPID = static_cast<qint32>(*window.pid);
    }
    return details;
}

std::vector<WindowDetails> onScreenWindows(const WindowStack& stack, qint64 ownProcessId,
                                           const std::vector<ScreenGeometry>& screens)
{
    std::vector<WindowDetails> windows;
    for (const WindowRecord& window : stack.frontToBack) {
        const bool onThisDesktop = !window.desktop || !stack.currentDesktop ||
                                   *window.desktop == WindowRecord::allDesktops ||
                                   *window.desktop == *stack.currentDesktop;
        const bool own = window.pid == ownProcessId || window.className == QLatin1String(ownApplicationName);
        if (window.normalOrDialog && !window.hidden && onThisDesktop && !own && !window.frame.isEmpty()) {
            windows.push_back(initFromWindowInfo(window, screens));
        }
    }
    return windows;
}

std::optional<WindowDetails> windowDetailsAtPoint(const std::vector<WindowDetails>& windows, QPointF point)
{
    for (const WindowDetails& window : windows) {
        if (!window.frame) {
            continue;
        }
        const QRectF& frame = *window.frame;
        if (point.x() >= frame.left() && point.x() < frame.right() && point.y() >= frame.top() &&
            point.y() < frame.bottom()) {
            return window;
        }
    }
    return std::nullopt;
}

std::optional<WindowDetails> windowDetailsAtPoint(QPointF point)
{
    return windowDetailsAtPoint(
        onScreenWindows(readWindowStack(), QCoreApplication::applicationPid(), screenGeometries()), point);
}

} // namespace lumetrove
