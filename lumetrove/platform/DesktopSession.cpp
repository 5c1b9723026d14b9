#include "lumetrove/platform/DesktopSession.h"

#include <QGuiApplication>

namespace lumetrove {

bool isWaylandSession(const QByteArray& waylandDisplay, const QByteArray& sessionType)
{
    return !waylandDisplay.isEmpty() || sessionType == "wayland";
}

bool isWaylandSession()
{
    return isWaylandSession(qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"));
}

bool capturesThroughPortal(bool waylandSession, const QString& platformName)
{
    return waylandSession &&
           (platformName.startsWith(QLatin1String("wayland")) || platformName == QLatin1String("xcb"));
}

bool capturesThroughPortal()
{
    return capturesThroughPortal(isWaylandSession(), QGuiApplication::platformName());
}

} // namespace lumetrove
