// Text recognition of a full-HD screen (light window, dark editor, small status text): the recogniser beside
// the tesseract command line in its default settings on the same image. Both report their word recall.

#include "bench/ScreenText.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const lumetrove::bench::ScreenText& screen()
{
    static const lumetrove::bench::ScreenText rendered = lumetrove::bench::renderMixedScreen();
    return rendered;
}

void OcrFullHd_baseline(benchmark::State& state)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("screen.png"));
    screen().image.save(path);
    QString text;
    for (auto _ : state) {
        QProcess tesseract;
        tesseract.start(QStringLiteral("tesseract"),
                        {path, QStringLiteral("stdout"), QStringLiteral("-l"), QStringLiteral("eng")});
        if (!tesseract.waitForFinished(120000) || tesseract.exitCode() != 0) {
            state.SkipWithError("the tesseract command line failed");
            return;
        }
        text = QString::fromUtf8(tesseract.readAllStandardOutput());
    }
    state.counters["recall"] = lumetrove::bench::wordRecall(screen().words, text);
    state.counters["words"] = static_cast<double>(screen().words.size());
}

void OcrFullHd_recognizer(benchmark::State& state)
{
    const auto recognizer = lumetrove::sharedTextRecognizer();
    recognizer->recognize(screen().image); // every reading thread makes its engine once, not per screen
    QString text;
    for (auto _ : state) {
        text = recognizer->recognize(screen().image).joinedLines();
    }
    state.counters["recall"] = lumetrove::bench::wordRecall(screen().words, text);
    state.counters["words"] = static_cast<double>(screen().words.size());
}

} // namespace

BENCHMARK(OcrFullHd_baseline)->Name("ocr_fullhd/baseline")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(OcrFullHd_recognizer)
    ->Name("ocr_fullhd/recognizer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
