#pragma once

// What the capture benchmarks of every desktop share: trigger -> an exposed overlay on every screen, and mouse
// release -> the row in the library list, each measured against a baseline of the desktop's own; the program's
// main.

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenAreaSelectionView.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/ImageUtilities.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <functional>
#include <string>

namespace capturebench {

template <typename Predicate> bool processEventsUntil(Predicate done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

/// Whether `windows` are one exposed window per screen.
inline bool allExposed(const QList<QPointer<QWidget>>& windows)
{
    return windows.size() == QGuiApplication::screens().size() &&
           std::all_of(windows.begin(), windows.end(), [](const QPointer<QWidget>& window) {
               return window && window->windowHandle() && window->windowHandle()->isExposed();
           });
}

/// The overlay windows of `capture`'s area capture under way; none before its overlays are installed.
inline QList<QPointer<QWidget>> overlayWindows(const lumetrove::ScreenshotCapture& capture)
{
    const auto* overlays = dynamic_cast<const lumetrove::ScreenCaptureOverlays*>(capture.overlays());
    return overlays ? overlays->windows() : QList<QPointer<QWidget>>();
}

/// Trigger -> an exposed overlay on every screen.
inline void measureOverlaysShown(benchmark::State& state)
{
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    lumetrove::ScreenCaptureOverlays::installIn(capture);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        capture.startAreaCapture(
            false, [](const auto&, lumetrove::CaptureResult) { return lumetrove::CaptureFollowUp::showMainWindow; });
        if (!processEventsUntil([&] { return allExposed(overlayWindows(capture)); })) {
            state.SkipWithError("the overlays did not come up");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        capture.endCapture(lumetrove::CaptureResult::cancelled);
        processEventsUntil([] { return false; }, 100);
    }
}

/// The baseline of release -> row: `grab` the area, encode it as PNG and write it to the screenshots directory.
inline void measureGrabAndWrite(benchmark::State& state, const std::function<QImage()>& grab)
{
    const QString path = *lumetrove::screenshotsDirectory() + QStringLiteral("/baseline.png");
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(lumetrove::pngData(grab()));
        file.close();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

/// How a release -> row run goes on a desktop.
struct ReleaseToRowRun {
    /// The area dragged over, in global (layout) coordinates.
    QRect selection;
    /// Whether the overlays are ready for the drag, beyond being shown.
    std::function<bool(const lumetrove::ScreenshotCapture&)> overlaysReady;
    /// Whether the area holds text: then how many rows were listed while their text was still being recognised,
    /// and whether it came, are reported.
    bool withText = false;
};

/// Mouse release -> the row in the library list: the pause for the overlays to go, saving, the thumbnail and
/// the insert; the text follows while the row is listed.
inline void measureReleaseToRow(benchmark::State& state, const ReleaseToRowRun& run)
{
    lumetrove::ScreenshotsListManager library(lumetrove::ScreenshotsDB::shared());
    processEventsUntil([&] { return library.listLoaded(); });
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    lumetrove::ScreenCaptureOverlays::installIn(capture);
    int listedBeforeText = 0;
    for (auto _ : state) {
        const qsizetype before = library.screenshots().size();
        capture.startAreaCapture(false, [&](const auto& results, lumetrove::CaptureResult) {
            for (const lumetrove::CapturedScreenshotInfo& info :
                 results.value_or(QList<lumetrove::CapturedScreenshotInfo>{})) {
                library.addScreenshot(info, false);
            }
            return lumetrove::CaptureFollowUp::showMainWindow;
        });
        if (!processEventsUntil([&] {
                return allExposed(overlayWindows(capture)) && (!run.overlaysReady || run.overlaysReady(capture));
            })) {
            state.SkipWithError("the overlays did not come up");
            return;
        }
        // The drag starts on the screen that holds the selection's corner, as a pointer's would.
        QWidget* overlay = nullptr;
        for (const QPointer<QWidget>& window : overlayWindows(capture)) {
            if (window->screen()->geometry().contains(run.selection.topLeft())) {
                overlay = window;
            }
        }
        auto* view = overlay ? overlay->findChild<lumetrove::ScreenAreaSelectionView*>() : nullptr;
        if (view == nullptr) {
            state.SkipWithError("no overlay under the selection");
            return;
        }
        // A full-screen overlay's own coordinates are its screen's: Wayland tells no window where it is.
        const QPoint origin = overlay->screen()->geometry().topLeft();
        const QPointF from(run.selection.topLeft() - origin);
        const QPointF to(run.selection.bottomRight() + QPoint(1, 1) - origin);
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
        if (library.screenshots().row(0).textSnippet.value_or(QString()).isEmpty()) {
            ++listedBeforeText;
        }
    }
    if (run.withText) {
        state.counters["listed_before_text"] = listedBeforeText;
        const lumetrove::ScreenshotPtr last = library.screenshots().front();
        processEventsUntil([&] { return !last->text().value_or(QString()).isEmpty(); });
        state.counters["text_arrived"] = last->text().value_or(QString()).contains(QStringLiteral("quarterly")) ? 1 : 0;
    }
}

/// Registers "<prefix>_overlays_shown" and "<prefix>_release_to_row", each beside its baseline.
inline void registerCaptureBenchmarks(const std::string& prefix, void (*overlaysBaseline)(benchmark::State&),
                                      int overlayIterations, void (*releaseBaseline)(benchmark::State&),
                                      std::function<void(benchmark::State&)> releaseToRow)
{
    const auto timed = [](benchmark::internal::Benchmark* benchmark, int iterations) {
        benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
    };
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown/baseline").c_str(), overlaysBaseline),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown/capture").c_str(), measureOverlaysShown),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_row/baseline").c_str(), releaseBaseline), 5);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_row/capture").c_str(), std::move(releaseToRow)), 5);
}

/// Runs the registered benchmarks in an application whose library is a temporary one.
inline int runBenchmarks(int argc, char** argv)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace capturebench
