// An import of 500 screenshot-sized PNG files handed to the running program's main window (offscreen), as a drop
// or a second launch hands them over: the time until every row is listed, the time until the first row is in
// the list, and the longest the main thread spent on one event meanwhile (goal: 16 ms, one frame). Beside it,
// the same files stored by one thread that does nothing else: each read, checked, copied into the library with
// its thumbnail, and given its row. Text recognition answers at once, so its results reach the window while the
// import runs, as they would for the first files of a long import.

#include "lumetrove/app/AppState.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/capture/ImageImport.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "lumetrove/platform/UserDefaults.h"
#include "sqlite/Connection.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

constexpr int importedFiles = 500;
constexpr qint64 timeoutMs = 600'000;

/// Times every event the application delivers from its event loop (not the ones sent from inside another).
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (depth_ > 0) {
            return QApplication::notify(receiver, event);
        }
        ++depth_;
        QElapsedTimer timer;
        timer.start();
        const bool handled = QApplication::notify(receiver, event);
        const qint64 ns = timer.nsecsElapsed();
        --depth_;
        longestNs = std::max(longestNs, ns);
        if (ns > 16'000'000) {
            ++overFrame;
        }
        // LUMETROVE_BENCH_SLOW_EVENTS=N names every event that took more than N ms, for finding what took them.
        if (qEnvironmentVariableIsSet("LUMETROVE_BENCH_SLOW_EVENTS") &&
            ns > qEnvironmentVariableIntValue("LUMETROVE_BENCH_SLOW_EVENTS") * 1'000'000LL) {
            std::fprintf(stderr, "slow event %d to %s: %.1f ms\n", int(event->type()),
                         receiver->metaObject()->className(), double(ns) / 1e6);
        }
        return handled;
    }

    void resetTimes()
    {
        longestNs = 0;
        overFrame = 0;
    }

    qint64 longestNs = 0;
    int overFrame = 0;

private:
    int depth_ = 0;
};

TimingApplication* application = nullptr;

/// Reads two lines at once, whatever the image.
class InstantRecognizer : public lumetrove::TextRecognizer {
public:
    lumetrove::RecognizedText recognize(const QImage& image) const override
    {
        lumetrove::RecognizedText text;
        text.lines.push_back(lumetrove::RecognizedLine{QStringLiteral("invoice %1").arg(image.width()), {}, {}});
        text.lines.push_back(lumetrove::RecognizedLine{QStringLiteral("total due"), {}, {}});
        return text;
    }
};

/// 500 screenshot-like PNG files (1280 x 800: a window with a sidebar, rows of text), each a little different.
const QList<QUrl>& sourceFiles()
{
    static QTemporaryDir directory;
    static const QList<QUrl> files = [] {
        QList<QUrl> urls;
        for (int i = 0; i < importedFiles; ++i) {
            QImage image(1280, 800, QImage::Format_RGB32);
            image.fill(QColor(245, 245, 245));
            QPainter painter(&image);
            painter.fillRect(0, 0, 260, 800, QColor(30 + i % 40, 40, 60));
            painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 13));
            for (int line = 0; line < 30; ++line) {
                painter.setPen(line % 3 == 0 ? Qt::darkBlue : Qt::black);
                painter.drawText(
                    290, 40 + line * 25,
                    QStringLiteral("Row %1 of screenshot %2: invoice total due %3").arg(line).arg(i).arg(i * 7));
            }
            painter.end();
            const QString path = directory.filePath(QStringLiteral("shot-%1.png").arg(i, 3, 10, QLatin1Char('0')));
            image.save(path);
            urls << QUrl::fromLocalFile(path);
        }
        return urls;
    }();
    return files;
}

/// Runs the event loop until `done` holds, looking every few milliseconds; false on time-out.
bool runUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void BM_Import(benchmark::State& state, bool program)
{
    const QList<QUrl>& files = sourceFiles();
    for (auto _ : state) {
        const std::shared_ptr<lumetrove::ScreenshotsDB>& store = lumetrove::ScreenshotsDB::shared();
        store->db()->executeScript("DELETE FROM folders_screenshots; DELETE FROM screenshots;");
        QDir(*lumetrove::screenshotsDirectory()).removeRecursively();
        QDir().mkpath(*lumetrove::screenshotsDirectory());
        QElapsedTimer timer;
        if (!program) {
            // The same files, stored one after the other by this thread alone.
            timer.start();
            for (const QUrl& url : files) {
                auto imported = lumetrove::importImageFile(url, *lumetrove::screenshotsDirectory(), store.get(), 1.0);
                const auto* image = std::get_if<lumetrove::ImportedImage>(&imported);
                if (image == nullptr) {
                    state.SkipWithError("a file was not imported");
                    return;
                }
                const std::optional<qint64> id =
                    store->insertScreenshot({.name = image->filename,
                                             .path = image->screenshotPath.toString(QUrl::FullyEncoded),
                                             .text = QString(),
                                             .wasImported = true,
                                             .textToCome = true});
                if (id && image->thumbnail) {
                    QFile thumbnail(*lumetrove::thumbnailFilePath(*id));
                    if (thumbnail.open(QIODevice::WriteOnly)) {
                        thumbnail.write(*image->thumbnail);
                    }
                }
            }
            state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
            state.counters["total_s"] = double(timer.nsecsElapsed()) / 1e9;
            continue;
        }
        lumetrove::FoldersListManager folders(store);
        lumetrove::ContentView view(lumetrove::ContentView::Dependencies{
            .makeScreenshotsListManager = [&] { return new lumetrove::ScreenshotsListManager(store); },
            .foldersListManager = folders,
            .appState = lumetrove::AppState::shared(),
            .store = store});
        view.resize(1400, 800);
        view.show();
        lumetrove::ScreenshotsListManager& list = view.screenshotsListManager();
        if (!runUntil([&] { return list.listLoaded(); })) {
            state.SkipWithError("the first list never came");
            return;
        }
        std::optional<qint64> firstRowNs;
        QObject::connect(&list, &lumetrove::ScreenshotsListManager::screenshotsChanged, &view,
                         [&](const lumetrove::ScreenshotList& shown) {
                             if (!firstRowNs && !shown.isEmpty()) {
                                 firstRowNs = timer.nsecsElapsed();
                             }
                         });
        application->resetTimes();
        timer.start();
        view.importFiles(files);
        const bool listed = runUntil([&] { return list.screenshots().size() == importedFiles; });
        const qint64 totalNs = timer.nsecsElapsed();
        // Every text in its row, so that nothing of this run goes on into the next.
        const bool read = listed && runUntil([&] {
                              const auto awaiting = store->screenshotsAwaitingText();
                              return awaiting && awaiting->empty();
                          });
        if (!listed || !read) {
            state.SkipWithError("the import did not end");
            return;
        }
        state.SetIterationTime(double(totalNs) / 1e9);
        state.counters["total_s"] = double(totalNs) / 1e9;
        state.counters["first_row_ms"] = firstRowNs ? double(*firstRowNs) / 1e6 : -1;
        state.counters["max_event_ms"] = double(application->longestNs) / 1e6;
        state.counters["events_over_16ms"] = application->overFrame;
    }
}

BENCHMARK_CAPTURE(BM_Import, baseline, false)
    ->Name("import500/baseline")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Import, program, true)
    ->Name("import500/program")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    // A private library and settings, and no display needed.
    QTemporaryDir home;
    for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        qputenv(variable, home.filePath(QString::fromLatin1(variable)).toUtf8());
        QDir().mkpath(home.filePath(QString::fromLatin1(variable)));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimingApplication app(argc, argv);
    application = &app;
    lumetrove::UserDefaults::setValue(QString::fromLatin1(lumetrove::UserDefaults::openAIAPIKey),
                                      QStringLiteral("sk-bench"));
    lumetrove::setSharedTextRecognizer(std::make_shared<InstantRecognizer>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
