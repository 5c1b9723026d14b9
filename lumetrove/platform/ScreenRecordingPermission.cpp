#include "lumetrove/platform/ScreenRecordingPermission.h"

#include "lumetrove/platform/DesktopSession.h"

#include <QGuiApplication>
#include <QProcess>

namespace lumetrove {

bool screenCaptureAccessGranted()
{
    if (capturesThroughPortal()) {
        return true;
    }
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("offscreen");
}

bool startDetachedProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace lumetrove
