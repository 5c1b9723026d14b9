// The detail pane: selecting a screenshot until its image is on screen (full HD and 4K), beside decoding
// the same file on the calling thread; and the live text of a full-HD screen, beside recognising it
// directly on the calling thread.
#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/detail/ScreenshotDetailView.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

/// A screen-like picture: a dark sidebar, light content with lines of text.
QImage screenImage(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(245, 245, 247));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width() / 6, size.height()), QColor(40, 42, 48));
    QFont font("DejaVu Sans");
    font.setPixelSize(size.height() / 60);
    painter.setFont(font);
    for (int line = 0; line < 30; ++line) {
        painter.setPen(line % 7 == 0 ? Qt::darkBlue : Qt::black);
        painter.drawText(QPoint(size.width() / 5, (line + 2) * size.height() / 34),
                         QStringLiteral("Quarterly report %1: revenue grew while costs stayed flat").arg(line));
    }
    return image;
}

struct Files {
    QTemporaryDir directory;
    QString fullHD, fourK;
    Files()
    {
        fullHD = directory.filePath("fullhd.png");
        fourK = directory.filePath("4k.png");
        screenImage({1920, 1080}).save(fullHD);
        screenImage({3840, 2160}).save(fourK);
    }
};

Files& files()
{
    static Files instance;
    return instance;
}

lumetrove::ScreenshotPtr screenshotOf(qint64 id, const QString& path)
{
    lumetrove::ScreenshotRow row;
    row.id = id;
    row.name = QString("shot");
    row.path = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    row.text = QString();
    return std::make_shared<lumetrove::Screenshot>(row);
}

/// Runs the event loop until `done`, asleep between events as the program's own loop is: a loop that spins
/// takes a processor from the threads it waits for, and on a busy machine lengthens what it measures.
void waitFor(const std::function<bool()>& done)
{
    QTimer deadline; // wakes the loop when nothing else does
    deadline.setSingleShot(true);
    deadline.start(60000);
    while (!done() && deadline.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void BM_DecodeOnCallingThread(benchmark::State& state, const QString* path)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(QImage(*path));
    }
}

/// Time from the selection until the pane has put the decoded image on screen; the main thread stays free.
void BM_SelectScreenshot(benchmark::State& state, const QString* path)
{
    lumetrove::ScreenshotDetailView pane({});
    pane.resize(900, 1000);
    pane.show();
    const lumetrove::ScreenshotPtr other = screenshotOf(1, files().fullHD);
    const lumetrove::ScreenshotPtr shown = screenshotOf(2, *path);
    for (auto _ : state) {
        state.PauseTiming();
        pane.setScreenshot(other);
        waitFor([&] { return pane.isImageCurrent(); });
        state.ResumeTiming();
        pane.setScreenshot(shown);
        waitFor([&] { return pane.isImageCurrent(); });
        pane.repaint();
    }
}

/// The text of a full-HD screen through the recogniser, on the calling thread.
void BM_RecognizeDirectly(benchmark::State& state)
{
    const QImage image = screenImage({1920, 1080});
    const auto recognizer = lumetrove::sharedTextRecognizer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(recognizer->recognize(image));
    }
}

/// The live text of a full-HD screen in the image view, from showing the image until its words are there.
void BM_LiveText(benchmark::State& state)
{
    lumetrove::LiveTextImageView view;
    const QImage image = screenImage({1920, 1080});
    for (auto _ : state) {
        QImage copy = image.copy();
        view.setImage(copy);
        waitFor([&] { return view.hasLiveText(); });
        if (view.words().empty()) {
            state.SkipWithError("no words were recognised");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The live text is recognised in this process: its time is the pane's, not a helper's start.
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    benchmark::RegisterBenchmark("SelectFullHD/baseline", BM_DecodeOnCallingThread, &files().fullHD)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("SelectFullHD/pane", BM_SelectScreenshot, &files().fullHD)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Select4K/baseline", BM_DecodeOnCallingThread, &files().fourK)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Select4K/pane", BM_SelectScreenshot, &files().fourK)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("LiveTextFullHD/baseline", BM_RecognizeDirectly)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("LiveTextFullHD/view", BM_LiveText)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
