#pragma once

// What the capture benchmarks of every desktop share: trigger -> an exposed overlay on every screen, and mouse
// release -> the row in the library list, each measured against a baseline of the desktop's own; the program's
// main.

#include "lumetrove/capture/CaptureMainWindow.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenAreaSelectionView.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

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

/// Times one trigger -> an exposed overlay on every screen, then cancels the capture; false (the state told) when
/// the overlays did not come up.
inline bool timeOverlaysShown(benchmark::State& state, lumetrove::ScreenshotCapture& capture)
{
    QElapsedTimer timer;
    timer.start();
    capture.startAreaCapture(
        false, [](const auto&, lumetrove::CaptureResult) { return lumetrove::CaptureFollowUp::showMainWindow; });
    if (!processEventsUntil([&] { return allExposed(overlayWindows(capture)); })) {
        state.SkipWithError("the overlays did not come up");
        return false;
    }
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    capture.endCapture(lumetrove::CaptureResult::cancelled);
    processEventsUntil([] { return false; }, 100);
    return true;
}

/// Starts an area capture whose screenshots are added to `library`.
inline void startCaptureInto(lumetrove::ScreenshotCapture& capture, lumetrove::ScreenshotsListManager& library)
{
    capture.startAreaCapture(false, [&library](const auto& results, lumetrove::CaptureResult) {
        for (const lumetrove::CapturedScreenshotInfo& info :
             results.value_or(QList<lumetrove::CapturedScreenshotInfo>{})) {
            library.addScreenshot(info, false);
        }
        return lumetrove::CaptureFollowUp::showMainWindow;
    });
}

/// Trigger -> an exposed overlay on every screen.
inline void measureOverlaysShown(benchmark::State& state)
{
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    lumetrove::ScreenCaptureOverlays::installIn(capture);
    for (auto _ : state) {
        if (!timeOverlaysShown(state, capture)) {
            return;
        }
    }
}

/// A main window as the program's: a full window of widgets, painted before it is hidden.
class BenchMainWindow : public lumetrove::CaptureMainWindow {
public:
    explicit BenchMainWindow(QWidget* window) : window_(window) {}
    bool isVisible() const override { return window_->isVisible(); }
    bool isMinimized() const override { return window_->isMinimized(); }
    bool isFullScreen() const override { return window_->isFullScreen(); }
    void showNormal() override { window_->showNormal(); }
    void setOpacity(qreal opacity) override { window_->setWindowOpacity(opacity); }
    void hide() override { window_->hide(); }
    void show() override { window_->show(); }
    void bringToFront() override
    {
        window_->raise();
        window_->activateWindow();
    }
    quintptr nativeWindow() const override { return window_->isVisible() ? window_->winId() : 0; }

private:
    QWidget* window_;
};

/// A window the size of the program's, which paints a gradient and lines of text.
class PaintedWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, width(), height());
        gradient.setColorAt(0, QColor(0x30, 0x50, 0x90));
        gradient.setColorAt(1, QColor(0xe0, 0xe8, 0xf0));
        painter.fillRect(rect(), gradient);
        for (int line = 0; line < height() / 24; ++line) {
            painter.drawText(20, 24 * (line + 1), QStringLiteral("Screenshot %1 of the library list").arg(line));
        }
    }
};

/// Trigger -> an exposed overlay on every screen while the main window is open: the capture hides it first.
inline void measureOverlaysShownWindowOpen(benchmark::State& state)
{
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    lumetrove::ScreenCaptureOverlays::installIn(capture);
    // Another window lies below the main one: once uncovered it paints itself again.
    PaintedWindow below;
    below.setGeometry(60, 60, 1300, 800);
    below.show();
    processEventsUntil([&] { return below.windowHandle() && below.windowHandle()->isExposed(); });
    PaintedWindow window;
    window.setWindowTitle(QStringLiteral("Screenshots"));
    window.setGeometry(120, 100, 1000, 700);
    capture.setMainWindow(std::make_shared<BenchMainWindow>(&window));
    for (auto _ : state) {
        window.show();
        window.raise();
        window.activateWindow();
        if (!processEventsUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); })) {
            state.SkipWithError("the main window did not come up");
            break;
        }
        // Painted, placed and settled, as a window the user works in.
        processEventsUntil([] { return false; }, 200);
        if (!timeOverlaysShown(state, capture)) {
            break;
        }
    }
    capture.setMainWindow(nullptr);
}

/// Tells when a finished PNG file appears in a directory (renamed or linked into place), by inotify.
class PngWatch {
public:
    explicit PngWatch(const QString& directory) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        inotify_add_watch(fd_, QFile::encodeName(directory).constData(), IN_MOVED_TO | IN_CLOSE_WRITE);
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { read(); });
    }
    ~PngWatch()
    {
        notifier_.reset();
        close(fd_);
    }
    PngWatch(const PngWatch&) = delete;
    PngWatch& operator=(const PngWatch&) = delete;

    /// The PNG files that appeared so far.
    int seen() const { return seen_; }

private:
    void read()
    {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t size; (size = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                const QByteArray name(event->len > 0 ? event->name : "");
                // Files are written under a hidden partial name and moved into place.
                if (name.endsWith(".png") && !name.startsWith('.')) {
                    ++seen_;
                }
                at += sizeof(inotify_event) + event->len;
            }
        }
    }

    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int seen_ = 0;
};

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
    /// Whether the time runs only until the PNG file is written, not until the row is listed.
    bool untilPngWritten = false;
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
    const PngWatch files(*lumetrove::screenshotsDirectory());
    for (auto _ : state) {
        const qsizetype before = library.screenshots().size();
        startCaptureInto(capture, library);
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
        const int filesBefore = files.seen();
        QElapsedTimer timer;
        timer.start();
        QMouseEvent release(QEvent::MouseButtonRelease, to, to, Qt::LeftButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(view, &release);
        if (run.untilPngWritten) {
            if (!processEventsUntil([&] { return files.seen() > filesBefore; })) {
                state.SkipWithError("the PNG file was never written");
                return;
            }
            state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        }
        if (!processEventsUntil([&] { return library.screenshots().size() > before; })) {
            state.SkipWithError("the row was never listed");
            return;
        }
        if (!run.untilPngWritten) {
            state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        }
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

/// Registers "<prefix>_overlays_shown" (with the main window closed and open), "<prefix>_release_to_row" and
/// "<prefix>_release_to_png", each beside its baseline. `releaseToRow` is told whether its time ends when the
/// PNG file is written.
inline void registerCaptureBenchmarks(const std::string& prefix, void (*overlaysBaseline)(benchmark::State&),
                                      int overlayIterations, void (*releaseBaseline)(benchmark::State&),
                                      std::function<void(benchmark::State&, bool untilPngWritten)> releaseToRow)
{
    const auto timed = [](benchmark::internal::Benchmark* benchmark, int iterations) {
        benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
    };
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown/baseline").c_str(), overlaysBaseline),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown/capture").c_str(), measureOverlaysShown),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown_window_open/baseline").c_str(), overlaysBaseline),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_overlays_shown_window_open/capture").c_str(),
                                       measureOverlaysShownWindowOpen),
          overlayIterations);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_row/baseline").c_str(), releaseBaseline), 5);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_row/capture").c_str(),
                                       [releaseToRow](benchmark::State& state) { releaseToRow(state, false); }),
          5);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_png/baseline").c_str(), releaseBaseline), 5);
    timed(benchmark::RegisterBenchmark((prefix + "_release_to_png/capture").c_str(),
                                       [releaseToRow](benchmark::State& state) { releaseToRow(state, true); }),
          5);
}

/// Runs the registered benchmarks in an application whose library is a temporary one.
inline int runBenchmarks(int argc, char** argv)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication application(argc, argv);
    // The captures recognise their text in this process, beside the capture they are timed with.
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace capturebench
