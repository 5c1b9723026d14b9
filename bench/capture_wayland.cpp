// Capture latency on a Wayland desktop (a private headless one, scripts/wayland-desktop: sway with a scale-1
// and a scale-2 output and the desktop portal), where the portal takes the screenshot: trigger -> a full-screen
// overlay exposed on every output, beside a plain portal screenshot (the request and its answer, nothing of
// ours); mouse release (once the overlays show the still image) -> the row in the library list, beside cutting,
// encoding and writing the same area from the same still image on the spot.

#include "lumetrove/capture/ImageUtilities.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/DesktopImage.h"
#include "lumetrove/platform/OverlayWindow.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "tests/lumetrove/wayland/WaylandDesktopLauncher.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

template <typename Predicate> bool processEventsUntil(Predicate done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

bool allExposed(const QList<QPointer<QWidget>>& windows)
{
    return windows.size() == QGuiApplication::screens().size() &&
           std::all_of(windows.begin(), windows.end(), [](const QPointer<QWidget>& window) {
               return window && window->windowHandle() && window->windowHandle()->isExposed();
           });
}

bool showStillImages(const lumetrove::ScreenshotCapture& capture)
{
    return std::all_of(capture.shadeWindows().begin(), capture.shadeWindows().end(),
                       [](const QPointer<QWidget>& window) {
                           const auto* overlay = qobject_cast<const lumetrove::OverlayWindow*>(window.data());
                           return overlay && !overlay->frozenScreen().isNull();
                       });
}

/// Receives the portal's answer for the baseline.
class ResponseCounter : public QObject {
    Q_OBJECT
public:
    int responses = 0;
public slots:
    void response(uint, const QVariantMap&) { ++responses; }
};

void Overlays_baseline(benchmark::State& state)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ResponseCounter counter;
    int request = 0;
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
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        bus.disconnect(QStringLiteral("org.freedesktop.portal.Desktop"), path,
                       QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &counter,
                       SLOT(response(uint, QVariantMap)));
    }
}

void Overlays_capture(benchmark::State& state)
{
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        capture.startAreaCapture(false, [](const auto&, lumetrove::CaptureResult) {});
        if (!processEventsUntil([&] { return allExposed(capture.shadeWindows()); })) {
            state.SkipWithError("the overlays did not come up");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        capture.endCapture(lumetrove::CaptureResult::cancelled);
        processEventsUntil([] { return false; }, 100);
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
    std::vector<lumetrove::ScreenLayout> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back({screen->geometry(), screen->devicePixelRatio()});
    }
    return lumetrove::DesktopImage(outcome->image, screens);
}

void ReleaseToRow_baseline(benchmark::State& state)
{
    const std::optional<lumetrove::DesktopImage> desktop = portalDesktop();
    if (!desktop) {
        state.SkipWithError("no screenshot from the portal");
        return;
    }
    const QString path = *lumetrove::screenshotsDirectory() + QStringLiteral("/baseline.png");
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(lumetrove::pngData(desktop->grab(QRectF(selection))));
        file.close();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

void ReleaseToRow_capture(benchmark::State& state)
{
    lumetrove::ScreenshotsListManager library;
    processEventsUntil([&] { return library.listLoaded(); });
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    for (auto _ : state) {
        const qsizetype before = library.screenshots().size();
        capture.startAreaCapture(false, [&](const auto& results, lumetrove::CaptureResult) {
            for (const lumetrove::CapturedScreenshotInfo& info :
                 results.value_or(QList<lumetrove::CapturedScreenshotInfo>{})) {
                library.addScreenshot(info, false);
            }
        });
        // A drag takes the user longer than reading the portal's file: the overlays show the still image first.
        if (!processEventsUntil([&] { return allExposed(capture.shadeWindows()) && showStillImages(capture); })) {
            state.SkipWithError("the overlays did not come up");
            return;
        }
        // The drag starts on the output that holds the selection's corner, as a pointer's would.
        QWidget* overlay = nullptr;
        for (const QPointer<QWidget>& window : capture.shadeWindows()) {
            if (window->screen()->geometry().contains(selection.topLeft())) {
                overlay = window;
            }
        }
        auto* view = overlay->findChild<lumetrove::ScreenAreaSelectionView*>();
        const QPoint origin = overlay->screen()->geometry().topLeft();
        const QPointF from = QPointF(selection.topLeft() - origin);
        const QPointF to = QPointF(selection.bottomRight() + QPoint(1, 1) - origin);
        QMouseEvent press(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view, &press);
        QMouseEvent move(QEvent::MouseMove, to, to, Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view, &move);
        QElapsedTimer timer;
        timer.start();
        QMouseEvent release(QEvent::MouseButtonRelease, to, to, Qt::LeftButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(view, &release);
        if (!processEventsUntil([&] { return library.screenshots().size() > before; })) {
            state.SkipWithError("the row was never listed");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

} // namespace

BENCHMARK(Overlays_baseline)
    ->Name("wayland_capture_overlays_shown/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(Overlays_capture)
    ->Name("wayland_capture_overlays_shown/capture")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(ReleaseToRow_baseline)
    ->Name("wayland_capture_release_to_row/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(ReleaseToRow_capture)
    ->Name("wayland_capture_release_to_row/capture")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

int main(int argc, char** argv)
{
    // Outside a Wayland desktop of its own, the benchmark starts itself again inside a private one.
    if (qEnvironmentVariableIsEmpty("LUMETROVE_WAYLAND_DIR")) {
        return lumetrove::testing::restartInsideWaylandDesktop(argc, argv, LUMETROVE_WAYLAND_DESKTOP);
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "capture_wayland.moc"
