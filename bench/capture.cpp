// Capture latency on an X display (its own Xvfb when none is set): trigger -> every overlay shown, beside
// showing one plain full-screen window per screen; mouse release -> the row in the library list (the pause
// for the overlays to go, saving, the thumbnail and the insert; the text follows while the row is listed),
// beside grabbing, encoding and writing the same area on the spot.

#include "bench/CaptureBench.h"
#include "lumetrove/platform/ScreenGrab.h"

#include <QLabel>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

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

void ReleaseToRow_capture(benchmark::State& state)
{
    const std::unique_ptr<QLabel> window(textWindow());
    processEventsUntil([&] { return window->windowHandle()->isExposed(); });
    capturebench::measureReleaseToRow(state, {selection, {}, true});
}

} // namespace

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
    qputenv("QT_QPA_PLATFORM", "xcb");
    capturebench::registerCaptureBenchmarks("capture", Overlays_baseline, 10, ReleaseToRow_baseline,
                                            ReleaseToRow_capture);
    const int status = capturebench::runBenchmarks(argc, argv);
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return status;
}
