// Capture latency on an X display (its own Xvfb when none is set, with openbox and split into two monitors):
// trigger -> every overlay shown, with the main window closed and open, beside showing one plain full-screen
// window per screen; mouse release -> the PNG file written, and -> the row in the library list (the pause
// for the overlays to go, saving, the thumbnail and the insert; the text follows while the row is listed),
// beside grabbing, encoding and writing the same area on the spot.

#include "bench/CaptureBench.h"
#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/ScreenGrab.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/RecognitionHelpers.h"

#include <QDir>
#include <QLabel>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

using capturebench::processEventsUntil;

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
        processEventsUntil([&] { return capturebench::allExposed(windows); });
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        for (const QPointer<QWidget>& window : windows) {
            delete window;
        }
        processEventsUntil([] { return false; }, 50);
    }
}

const QRect selection(40, 40, 520, 170);

void ReleaseToRow_baseline(benchmark::State& state)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    processEventsUntil([] { return false; }, 200);
    capturebench::measureGrabAndWrite(state, [] { return lumetrove::grabScreenArea(QRectF(selection)); });
}

void ReleaseToRow_capture(benchmark::State& state, bool untilPngWritten)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    capturebench::measureReleaseToRow(state, {selection, {}, !untilPngWritten, untilPngWritten});
}

/// Resident and proportional set sizes of a process, in MiB.
struct Memory {
    double rss = 0;
    double pss = 0;
};

Memory memoryOf(qint64 pid)
{
    Memory memory;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            const double mib = line.mid(line.indexOf(':') + 1).trimmed().split(' ').constFirst().toDouble() / 1024.0;
            if (line.startsWith("Rss:")) {
                memory.rss = mib;
            } else if (line.startsWith("Pss:")) {
                memory.pss = mib;
            }
        }
    }
    return memory;
}

/// The text-recognition helpers this process has running, and their memory together.
std::pair<int, Memory> helpers()
{
    int count = 0;
    Memory total;
    for (const qint64 pid : lumetrove::testing::runningRecognitionHelpers()) {
        ++count;
        const Memory memory = memoryOf(pid);
        total.rss += memory.rss;
        total.pss += memory.pss;
    }
    return {count, total};
}

/// Memory of the program at rest (the main window closed), after 500 captures of a window of text whose text is
/// recognised in helper processes, and after 20 s at rest that follow: the process and its helpers. The time is
/// that of the captures; the figures are counters, the baseline's being those before the captures.
void MemoryAfterCaptures(benchmark::State& state, bool afterCaptures)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    lumetrove::ScreenshotsListManager library(lumetrove::ScreenshotsDB::shared());
    processEventsUntil([&] { return library.listLoaded(); });
    lumetrove::ScreenshotCapture capture(
        lumetrove::makeHelperProcessTextRecognizer(lumetrove::testing::builtRecognitionHelper()), nullptr);
    lumetrove::ScreenCaptureOverlays::installIn(capture);
    constexpr int captures = 500;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; afterCaptures && i < captures; ++i) {
            const qsizetype before = library.screenshots().size();
            capturebench::startCaptureInto(capture, library);
            const auto* overlays = dynamic_cast<const lumetrove::ScreenCaptureOverlays*>(capture.overlays());
            if (!processEventsUntil([&] { return capturebench::allExposed(overlays->windows()); })) {
                state.SkipWithError("the overlays did not come up");
                return;
            }
            capture.didSelectArea(QRectF(selection), std::nullopt);
            if (!processEventsUntil([&] { return library.screenshots().size() > before; })) {
                state.SkipWithError("the row was never listed");
                return;
            }
        }
        if (afterCaptures) {
            // Every text recognised and stored.
            const lumetrove::ScreenshotPtr last = library.screenshots().front();
            processEventsUntil([&] { return !last->text().value_or(QString()).isEmpty(); }, 600000);
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    const auto record = [&](const std::string& prefix) {
        const Memory self = memoryOf(QCoreApplication::applicationPid());
        const auto [count, helperMemory] = helpers();
        state.counters[prefix + "rss_MiB"] = self.rss;
        state.counters[prefix + "pss_MiB"] = self.pss;
        state.counters[prefix + "helpers"] = count;
        state.counters[prefix + "helpers_rss_MiB"] = helperMemory.rss;
    };
    record(afterCaptures ? "done_" : "idle_");
    if (afterCaptures) {
        processEventsUntil([] { return false; }, 20000);
        record("rested_");
    }
}

pid_t spawn(std::vector<const char*> arguments)
{
    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        arguments.push_back(nullptr);
        execvp(arguments[0], const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    return child;
}

/// Starts openbox on the private display, waits until it owns the screen, and splits the display into two
/// monitors of 800 x 1000; the window manager's process, 0 when there is none.
pid_t startDesktop()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const auto managed = [&] {
        const auto atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 5, "WM_S0"), nullptr);
        const xcb_atom_t name = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(atom);
        const auto owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, name), nullptr);
        const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        return owned;
    };
    pid_t windowManager = spawn({"openbox"});
    for (int attempt = 0; attempt < 500 && !managed(); ++attempt) {
        usleep(20000);
    }
    if (!managed()) {
        std::fputs("bench_capture: openbox did not take the display; measuring without a window manager\n", stderr);
        kill(windowManager, SIGTERM);
        waitpid(windowManager, nullptr, 0);
        windowManager = 0;
    }
    for (const std::vector<const char*>& monitor :
         {std::vector<const char*>{"xrandr", "--setmonitor", "bench-left", "800/211x1000/264+0+0", "screen"},
          std::vector<const char*>{"xrandr", "--setmonitor", "bench-right", "800/211x1000/264+800+0", "none"}}) {
        const pid_t xrandr = spawn(monitor);
        waitpid(xrandr, nullptr, 0);
    }
    // Kept open: a server whose last client leaves resets and forgets the monitors.
    static_cast<void>(connection);
    return windowManager;
}

} // namespace

int main(int argc, char** argv)
{
    // As the program starts: its memory after the captures is measured here.
    lumetrove::returnLargeBlocksWhenFreed();
    lumetrove::useOneHeapForAllThreads();
    // Without a display of its own the benchmark runs on a private Xvfb, ended when it is done.
    pid_t server = 0;
    pid_t windowManager = 0;
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
        // A window manager frames the main window, as on a desktop, and the display is two monitors side by side.
        windowManager = startDesktop();
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    capturebench::registerCaptureBenchmarks("capture", Overlays_baseline, 10, ReleaseToRow_baseline,
                                            ReleaseToRow_capture);
    for (const bool afterCaptures : {false, true}) {
        benchmark::RegisterBenchmark(
            afterCaptures ? "memory_after_500_captures_and_20s_rest/capture"
                          : "memory_after_500_captures_and_20s_rest/baseline",
            [afterCaptures](benchmark::State& state) { MemoryAfterCaptures(state, afterCaptures); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    const int status = capturebench::runBenchmarks(argc, argv);
    if (windowManager > 0) {
        kill(windowManager, SIGTERM);
        waitpid(windowManager, nullptr, 0);
    }
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return status;
}
