// Capture latency on an X display (its own Xvfb when none is set): trigger -> every overlay shown, beside
// showing one plain full-screen window per screen; mouse release -> the row in the library list (the pause
// for the overlays to go, saving, the thumbnail and the insert; the text follows while the row is listed),
// beside grabbing, encoding and writing the same area on the spot.

#include "lumetrove/capture/ImageUtilities.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/ScreenGrab.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

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
    return !windows.isEmpty() && std::all_of(windows.begin(), windows.end(), [](const QPointer<QWidget>& window) {
        return window && window->windowHandle() && window->windowHandle()->isExposed();
    });
}

/// A window of text for the captures to read.
QLabel* textWindow()
{
    QStringList lines;
    for (int line = 0; line < 6; ++line) {
        lines.append(QStringLiteral("Invoice %1 for the quarterly budget review").arg(line));
    }
    auto* window = new QLabel(lines.join(QLatin1Char('\n')));
    window->setStyleSheet(QStringLiteral("QLabel { background: white; color: black; font: 14px 'DejaVu Sans'; }"));
    window->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    window->setMargin(20);
    window->setGeometry(0, 0, 640, 240);
    window->show();
    return window;
}

void Overlays_baseline(benchmark::State& state)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QList<QPointer<QWidget>> windows;
        for (QScreen* screen : QGuiApplication::screens()) {
            auto* window = new QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                                    Qt::X11BypassWindowManagerHint);
            window->setGeometry(screen->geometry());
            window->show();
            windows.append(window);
        }
        processEventsUntil([&] { return allExposed(windows); });
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        for (const QPointer<QWidget>& window : windows) {
            delete window;
        }
        processEventsUntil([] { return false; }, 50);
    }
}

void Overlays_capture(benchmark::State& state)
{
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        capture.startAreaCapture(false, [](const auto&, lumetrove::CaptureResult) {});
        processEventsUntil([&] { return allExposed(capture.shadeWindows()); });
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        capture.endCapture(lumetrove::CaptureResult::cancelled);
        processEventsUntil([] { return false; }, 50);
    }
}

const QRect selection(40, 40, 520, 170);

void ReleaseToRow_baseline(benchmark::State& state)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    processEventsUntil([] { return false; }, 200);
    const QString path = *lumetrove::screenshotsDirectory() + QStringLiteral("/baseline.png");
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(lumetrove::pngData(lumetrove::grabScreenArea(QRectF(selection))));
        file.close();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

void ReleaseToRow_capture(benchmark::State& state)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    lumetrove::ScreenshotsListManager library;
    processEventsUntil([&] { return library.listLoaded(); });
    lumetrove::ScreenshotCapture& capture = lumetrove::ScreenshotCapture::shared();
    int listedBeforeText = 0;
    for (auto _ : state) {
        const qsizetype before = library.screenshots().size();
        capture.startAreaCapture(false, [&](const auto& results, lumetrove::CaptureResult) {
            for (const lumetrove::CapturedScreenshotInfo& info :
                 results.value_or(QList<lumetrove::CapturedScreenshotInfo>{})) {
                library.addScreenshot(info, false);
            }
        });
        processEventsUntil([&] { return allExposed(capture.shadeWindows()); });
        QWidget* overlay = capture.shadeWindows().front();
        auto* view = overlay->findChild<lumetrove::ScreenAreaSelectionView*>();
        const QPointF from = view->mapFromGlobal(QPointF(selection.topLeft()));
        const QPointF to = view->mapFromGlobal(QPointF(selection.bottomRight() + QPoint(1, 1)));
        QMouseEvent press(QEvent::MouseButtonPress, from, view->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view, &press);
        QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view, &move);
        QElapsedTimer timer;
        timer.start();
        QMouseEvent release(QEvent::MouseButtonRelease, to, view->mapToGlobal(to), Qt::LeftButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(view, &release);
        processEventsUntil([&] { return library.screenshots().size() > before; });
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (library.screenshots().front()->text().value_or(QString()).isEmpty()) {
            ++listedBeforeText;
        }
    }
    // How many rows were listed while their text was still being recognised, and whether the text came.
    state.counters["listed_before_text"] = listedBeforeText;
    const lumetrove::ScreenshotPtr last = library.screenshots().front();
    processEventsUntil([&] { return !last->text().value_or(QString()).isEmpty(); });
    state.counters["text_arrived"] = last->text().value_or(QString()).contains(QStringLiteral("quarterly")) ? 1 : 0;
}

} // namespace

BENCHMARK(Overlays_baseline)
    ->Name("capture_overlays_shown/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(Overlays_capture)
    ->Name("capture_overlays_shown/capture")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(ReleaseToRow_baseline)
    ->Name("capture_release_to_row/baseline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(ReleaseToRow_capture)
    ->Name("capture_release_to_row/capture")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

int main(int argc, char** argv)
{
    // Without a display of its own the benchmark runs on a private Xvfb, ended when it is done.
    pid_t server = 0;
    if (!qEnvironmentVariableIsSet("DISPLAY")) {
        // Xvfb picks a free display itself and writes its number once it accepts clients.
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return 1;
        }
        server = fork();
        if (server == 0) {
            close(pipeFds[0]);
            const QByteArray fd = QByteArray::number(pipeFds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
                   nullptr);
            _exit(127);
        }
        close(pipeFds[1]);
        QByteArray number;
        char c = 0;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(pipeFds[0]);
        if (number.isEmpty()) {
            std::fputs("bench_capture: Xvfb did not come up\n", stderr);
            return 1;
        }
        qputenv("DISPLAY", ":" + number);
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication application(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return status;
}
