// Capture latency on a Wayland desktop (a private headless one, scripts/wayland-desktop: sway with a scale-1
// and a scale-2 output and the desktop portal), where the portal takes the screenshot: trigger -> a full-screen
// overlay exposed on every output, beside a plain portal screenshot (the request and its answer, nothing of
// ours); mouse release (once the overlays show the still image) -> the row in the library list, beside cutting,
// encoding and writing the same area from the same still image on the spot.

#include "bench/CaptureBench.h"
#include "lumetrove/captureui/OverlayWindow.h"
#include "lumetrove/platform/DesktopImage.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "tests/lumetrove/wayland/WaylandDesktopLauncher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <vector>

namespace {

using capturebench::processEventsUntil;

bool showStillImages(const lumetrove::ScreenshotCapture& capture)
{
    const QList<QPointer<QWidget>> windows = capturebench::overlayWindows(capture);
    return std::all_of(windows.begin(), windows.end(), [](const QPointer<QWidget>& window) {
        const auto* overlay = qobject_cast<const lumetrove::OverlayWindow*>(window.data());
        return overlay && !overlay->frozenScreen().isNull();
    });
}

/// Receives the portal's answer for the baseline.
class ResponseCounter : public QObject {
    Q_OBJECT
public:
    int responses = 0;
    uint lastResponse = 0;
public slots:
    void response(uint code, const QVariantMap&)
    {
        ++responses;
        lastResponse = code;
    }
};

void Overlays_baseline(benchmark::State& state)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ResponseCounter counter;
    // Tokens stay unique over repeated runs: an answer to an earlier request never counts for a later one.
    static int request = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const QString token = QStringLiteral("bench%1").arg(++request);
        const QString path = lumetrove::portalRequestPath(bus.baseService(), token);
        bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), path,
                    QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &counter,
                    SLOT(response(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
        call << QString()
             << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
        const int before = counter.responses;
        bus.asyncCall(call);
        if (!processEventsUntil([&] { return counter.responses > before; })) {
            state.SkipWithError("the portal did not answer");
            return;
        }
        if (counter.lastResponse != 0) {
            state.SkipWithError("the portal took no screenshot");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        bus.disconnect(QStringLiteral("org.freedesktop.portal.Desktop"), path,
                       QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &counter,
                       SLOT(response(uint, QVariantMap)));
    }
}

/// Across the edge between the outputs.
const QRect selection(1700, 100, 400, 200);

std::optional<lumetrove::DesktopImage> portalDesktop()
{
    std::optional<lumetrove::PortalScreenshotOutcome> outcome;
    QObject context;
    lumetrove::PortalScreenshotRequest::take(
        QDBusConnection::sessionBus(), &context,
        [&](const lumetrove::PortalScreenshotOutcome& answer) { outcome = answer; });
    processEventsUntil([&] { return outcome.has_value(); });
    if (!outcome || outcome->status != lumetrove::PortalScreenshotOutcome::Status::taken) {
        return std::nullopt;
    }
    return lumetrove::DesktopImage(outcome->image, lumetrove::screenLayouts());
}

void ReleaseToRow_baseline(benchmark::State& state)
{
    const std::optional<lumetrove::DesktopImage> desktop = portalDesktop();
    if (!desktop) {
        state.SkipWithError("no screenshot from the portal");
        return;
    }
    capturebench::measureGrabAndWrite(state, [&] { return desktop->grab(QRectF(selection)); });
}

void ReleaseToRow_capture(benchmark::State& state, bool untilPngWritten)
{
    // A drag takes the user longer than reading the portal's file: the overlays show the still image first.
    capturebench::measureReleaseToRow(state, {selection, showStillImages, false, untilPngWritten});
}

} // namespace

int main(int argc, char** argv)
{
    // Outside a Wayland desktop of its own, the benchmark starts itself again inside a private one.
    if (qEnvironmentVariableIsEmpty("LUMETROVE_WAYLAND_DIR")) {
        return lumetrove::testing::restartInsideWaylandDesktop(argc, argv, LUMETROVE_WAYLAND_DESKTOP);
    }
    capturebench::registerCaptureBenchmarks("wayland_capture", Overlays_baseline, 5, ReleaseToRow_baseline,
                                            ReleaseToRow_capture);
    return capturebench::runBenchmarks(argc, argv);
}

#include "capture_wayland.moc"
