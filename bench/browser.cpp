// The library browser over 100k screenshots, offscreen: the list's first paint, one scroll step and a reset
// after a search, each beside a plain QListView over the same number of text rows; the sidebar's counts
// beside a single count of all screenshots; and the main thread's work for a capture landing in the list (in
// its middle and at its top), for other published lists (a recognised text, a search) and for the first list
// of a window, each beside a plain QListView with uniform rows over the same model, with whether the list
// kept its place and how much of it was painted again.
// A last part measures resident memory with the list shown.
#include "bench/GeneratedLibrary.h"
#include "lumetrove/browser/FolderSidebarModel.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/ScreenshotListModel.h"
#include "lumetrove/browser/ScreenshotListView.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "sqlite/Connection.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QListView>
#include <QPaintEvent>
#include <QProcess>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using namespace lumetrove;

constexpr int screenshotCount = 100'000;
constexpr int folderCount = 12;
const QSize windowSize(700, 900);

/// Runs `work` with standard output sent to /dev/null: the store prints its schema lines there, where the
/// benchmark writes its results.
template <typename Work> void quietly(Work work)
{
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    work();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(devNull);
    close(saved);
}

/// A library in a temporary data directory: 100k rows spread over the last 30 days, a dozen folders (every
/// third a smart folder) with some screenshots linked, and thumbnails for the first screenful.
struct BrowserLibrary {
    std::shared_ptr<ScreenshotsDB> store = std::make_shared<ScreenshotsDB>();
    std::unique_ptr<ScreenshotsListManager> screenshots;
    std::unique_ptr<FoldersListManager> folders;
    ScreenshotList all;
    ScreenshotList searched;

    BrowserLibrary()
    {
        quietly([&] { store->openDatabase(databaseFilePath()); });
        const auto db = store->db();
        db->transaction([&] {
            const auto insert = db->prepare(
                "INSERT INTO screenshots (name, path, text, was_imported, created_at) VALUES (?, ?, ?, 0, ?)");
            const QDateTime now = QDateTime::currentDateTimeUtc();
            for (int index = 0; index < screenshotCount; ++index) {
                const std::string name = "Screen Shot " + std::to_string(index);
                const std::string created = now.addSecs(-26LL * (screenshotCount - index))
                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                .toStdString();
                const std::string text = index % 5 == 0 ? "invoice total due" : "terminal build output";
                insert->runToEnd(name, "file:///tmp/" + name + ".png", text, created);
            }
        });
        folders = std::make_unique<FoldersListManager>(store);
        for (int index = 0; index < folderCount; ++index) {
            const bool smart = index % 3 == 2;
            const std::optional<Folder> folder =
                folders->addFolder(QStringLiteral("Folder %1").arg(index), smart,
                                   smart ? std::optional<QString>(QStringLiteral("invoice")) : std::nullopt);
            for (int link = 0; !smart && link < 500; ++link) {
                (void)store->insertFolderScreenshot(1 + (index * 500 + link) * 7 % screenshotCount, folder->id);
            }
        }
        screenshots = std::make_unique<ScreenshotsListManager>(store);
        // The whole list, not its first part alone.
        bool listed = false;
        screenshots->whenListed([&] { listed = true; });
        while (!listed) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        all = screenshots->screenshots();
        searched = screenshots->loadScreenshots();
        QImage thumbnail(200, 140, QImage::Format_RGB32);
        thumbnail.fill(Qt::darkCyan);
        for (int index = 0; index < 20; ++index) {
            thumbnail.save(*thumbnailFilePath(all.at(index)->id()), "PNG");
        }
    }
};

/// Made in main, after the application object, and let go before it.
std::unique_ptr<BrowserLibrary> theLibrary;

BrowserLibrary& library()
{
    return *theLibrary;
}

QStringList& textRows()
{
    static QStringList rows = [] {
        QStringList list;
        list.reserve(screenshotCount);
        for (int index = 0; index < screenshotCount; ++index) {
            list << QStringLiteral("Screen Shot %1").arg(index);
        }
        return list;
    }();
    return rows;
}

std::unique_ptr<QListView> makeBaselineView(QStringListModel& model)
{
    auto view = std::make_unique<QListView>();
    view->setUniformItemSizes(true);
    view->setModel(&model);
    view->resize(windowSize);
    return view;
}

std::unique_ptr<ScreenshotListView> makeListView(LibrarySelection& selection)
{
    auto view = std::make_unique<ScreenshotListView>(*library().screenshots, selection);
    view->resize(windowSize);
    return view;
}

void firstPaintBaseline(benchmark::State& state)
{
    QStringListModel model(textRows());
    for (auto _ : state) {
        auto view = makeBaselineView(model);
        view->show();
        benchmark::DoNotOptimize(view->viewport()->grab());
    }
}

void firstPaintList(benchmark::State& state)
{
    LibrarySelection selection;
    for (auto _ : state) {
        auto view = makeListView(selection);
        view->show();
        benchmark::DoNotOptimize(view->viewport()->grab());
    }
}

/// One step of a scroll through the middle of the list, then the repaint.
template <typename View> void scrollSteps(benchmark::State& state, View& view, int step)
{
    view.show();
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    for (auto _ : state) {
        bar->setValue(bar->value() + step);
        benchmark::DoNotOptimize(view.viewport()->grab());
    }
}

void scrollBaseline(benchmark::State& state)
{
    QStringListModel model(textRows());
    auto view = makeBaselineView(model);
    scrollSteps(state, *view, view->sizeHintForRow(0));
}

void scrollList(benchmark::State& state)
{
    LibrarySelection selection;
    auto view = makeListView(selection);
    scrollSteps(state, *view, view->sizeHintForRow(0));
}

void resetBaseline(benchmark::State& state)
{
    QStringListModel model(textRows());
    auto view = makeBaselineView(model);
    view->show();
    QStringList other = textRows();
    for (auto _ : state) {
        model.setStringList(other);
        benchmark::DoNotOptimize(view->viewport()->grab());
    }
}

void resetList(benchmark::State& state)
{
    LibrarySelection selection;
    auto view = makeListView(selection);
    view->show();
    bool flip = false;
    for (auto _ : state) {
        // A search publishes a new list of new records: the model resets and the view repaints.
        library().screenshots->setScreenshots((flip = !flip) ? library().searched : library().all);
        benchmark::DoNotOptimize(view->viewport()->grab());
    }
}

void countsBaseline(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(library().store->countScreenshots());
    }
}

void countsSidebar(benchmark::State& state)
{
    const QList<Folder> folders = library().folders->folders();
    for (auto _ : state) {
        benchmark::DoNotOptimize(computeSidebarCounts(*library().store, folders));
    }
}

/// CPU time of the calling thread: the main thread's own work, not the time it sleeps waiting for the pool.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

/// Where the main thread's time of the publications went: until the list was in place, and painting it; and
/// how much of the viewport was painted (1 = all of it, once).
struct {
    double listed = 0;
    double painted = 0;
    double paintedShare = 0;
} split;

/// Adds up the share of a viewport that its paint events cover.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& viewport) : viewport_(viewport) { viewport.installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const QSize size = viewport_.size();
            const QRect painted = static_cast<QPaintEvent*>(event)->rect() & viewport_.rect();
            split.paintedShare += double(painted.width()) * painted.height() / (double(size.width()) * size.height());
        }
        return false;
    }

private:
    QWidget& viewport_;
};

/// Runs the event loop until the list holds every change started so far and the window has painted what the
/// view marked for painting (as it does on screen, not a repaint of the whole viewport).
void settle(ScreenshotsListManager& manager)
{
    bool listed = false;
    manager.whenListed([&] { listed = true; });
    const double t0 = threadSeconds();
    while (!listed) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double t1 = threadSeconds();
    // The update request comes at once (main sets no idle time for it); a second turn takes what it posts.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    split.listed += t1 - t0;
    split.painted += threadSeconds() - t1;
}

/// A list view scrolled to the middle (or kept at the top) with a row there selected, as a user leaves it
/// while captures come: the program's list, or as the baseline a plain QListView with uniform rows over the
/// same model.
struct PlacedList {
    LibrarySelection selection;
    std::unique_ptr<QListView> view;
    ScreenshotListModel* model = nullptr;
    std::unique_ptr<PaintCounter> paints;
    bool baseline;
    qint64 selectedId = 0;
    qint64 topId = 0;

    PlacedList(bool baseline, bool atTop) : baseline(baseline)
    {
        ScreenshotsListManager& manager = *library().screenshots;
        if (baseline) {
            view = std::make_unique<QListView>();
            view->setUniformItemSizes(true);
            view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
            model = new ScreenshotListModel(manager, view.get());
            view->setModel(model);
            view->resize(windowSize);
        } else {
            auto list = makeListView(selection);
            model = &list->listModel();
            view = std::move(list);
        }
        view->show();
        settle(manager);
        const int row = atTop ? 0 : screenshotCount / 2;
        view->scrollTo(model->index(row),
                       atTop ? QAbstractItemView::PositionAtTop : QAbstractItemView::PositionAtCenter);
        const ScreenshotPtr selected = manager.screenshots().at(row);
        selection.setSelectedScreenshot(selected);
        selection.setSelectionIndex(row);
        selectedId = selected->id();
        topId = topRowId();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        paints = std::make_unique<PaintCounter>(*view->viewport());
        split = {};
    }

    qint64 topRowId() const
    {
        const QModelIndex top = view->indexAt(QPoint(1, 1));
        return top.isValid() ? top.data(ScreenshotListModel::IdRole).toLongLong() : 0;
    }

    /// Whether the rows on screen, and in the program's list the selection, stayed as they were.
    bool kept() const
    {
        if (baseline) {
            return topRowId() == topId;
        }
        const ScreenshotPtr at = library().screenshots->screenshots().value(selection.selectionIndex());
        return selection.selectedScreenshot() && selection.selectedScreenshot()->id() == selectedId && at &&
               at->id() == selectedId && topRowId() == topId;
    }
};

void reportMainThread(benchmark::State& state, double seconds, int kept)
{
    const auto perIteration = [&](double value) { return benchmark::Counter(value / double(state.iterations())); };
    state.counters["listedMs"] = perIteration(split.listed * 1e3);
    state.counters["paintMs"] = perIteration(split.painted * 1e3);
    state.counters["paintedShare"] = perIteration(split.paintedShare);
    split = {};
    state.counters["mainMs"] = perIteration(seconds * 1e3);
    state.counters["placeKept"] = perIteration(kept);
}

/// A capture lands in the list: its row is added (as the capture hands it over) and the list published. In
/// the middle of the list the rows on screen stay; at its top the new row shows.
void captureIntoList(benchmark::State& state, bool baseline, bool atTop)
{
    PlacedList placed(baseline, atTop);
    ScreenshotsListManager& manager = *library().screenshots;
    double seconds = 0;
    int kept = 0;
    static int captured = 0;
    double added = 0;
    double thumbnailed = 0;
    const QByteArray thumbnail = [] {
        QImage image(200, 140, QImage::Format_RGB32);
        image.fill(Qt::darkMagenta);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return png;
    }();
    int written = 0;
    const QMetaObject::Connection writes =
        QObject::connect(&manager, &ScreenshotsListManager::thumbnailWritten, [&] { ++written; });
    for (auto _ : state) {
        CapturedScreenshotInfo info;
        info.screenshotFilename = QStringLiteral("Captured %1.png").arg(++captured);
        info.screenshotPath = QStringLiteral("file:///tmp/captured-%1.png").arg(captured);
        info.recognizedText = QStringLiteral("captured words");
        info.thumbnail = thumbnail;
        const int writtenBefore = written;
        const double started = threadSeconds();
        manager.addScreenshot(info, true);
        added += threadSeconds() - started;
        settle(manager);
        // The thumbnail is written on the pool, and the list shows it once it is there.
        const double listed = threadSeconds();
        while (written == writtenBefore) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        for (int turn = 0; turn < 3; ++turn) {
            if (auto* list = dynamic_cast<ScreenshotListView*>(placed.view.get())) {
                list->thumbnails().waitForLoads();
            }
            QCoreApplication::processEvents();
        }
        thumbnailed += threadSeconds() - listed;
        const double spent = threadSeconds() - started;
        seconds += spent;
        state.SetIterationTime(spent);
        // At the top the new row is the one on top.
        if (atTop) {
            placed.topId = manager.screenshots().row(0).id;
            placed.selectedId = placed.selection.selectedScreenshot()->id();
        }
        kept += placed.kept() ? 1 : 0;
    }
    QObject::disconnect(writes);
    reportMainThread(state, seconds, kept);
    state.counters["addMs"] = benchmark::Counter(added * 1e3 / double(state.iterations()));
    state.counters["thumbnailMs"] = benchmark::Counter(thumbnailed * 1e3 / double(state.iterations()));
}

/// A recognised text arrives for a row of the list: its value changes, the list is published.
void textIntoList(benchmark::State& state, bool baseline)
{
    PlacedList placed(baseline, false);
    ScreenshotsListManager& manager = *library().screenshots;
    const ScreenshotList listed = manager.screenshots();
    double seconds = 0;
    int kept = 0;
    int arrived = 0;
    for (auto _ : state) {
        const qint64 id = listed.row(qsizetype(++arrived * 37 % screenshotCount)).id;
        const double started = threadSeconds();
        manager.setRecognizedText(id, QStringLiteral("recognised again %1").arg(arrived));
        settle(manager);
        const double spent = threadSeconds() - started;
        seconds += spent;
        state.SetIterationTime(spent);
        kept += placed.kept() ? 1 : 0;
    }
    reportMainThread(state, seconds, kept);
}

/// A search and its clearing: each publishes a list of other rows.
void searchIntoList(benchmark::State& state, bool baseline)
{
    PlacedList placed(baseline, false);
    ScreenshotsListManager& manager = *library().screenshots;
    double seconds = 0;
    bool flip = false;
    for (auto _ : state) {
        const double started = threadSeconds();
        manager.setSearchFilter((flip = !flip) ? QStringLiteral("invoice") : QString());
        settle(manager);
        const double spent = threadSeconds() - started;
        seconds += spent;
        state.SetIterationTime(spent);
    }
    reportMainThread(state, seconds, 0);
    manager.setSearchFilter(QString());
    settle(manager);
}

/// The first list of a window: a list manager made, its 100k rows loaded and published to a shown list and
/// painted. The time is wall-clock (the load runs on the thread pool); mainMs is the main thread's CPU time.
void firstListInWindow(benchmark::State& state, bool baseline)
{
    double mainSeconds = 0;
    LibrarySelection selection;
    for (auto _ : state) {
        const double started = threadSeconds();
        auto manager = std::make_unique<ScreenshotsListManager>(library().store);
        std::unique_ptr<QListView> view;
        if (baseline) {
            view = std::make_unique<QListView>();
            view->setUniformItemSizes(true);
            view->setModel(new ScreenshotListModel(*manager, view.get()));
        } else {
            view = std::make_unique<ScreenshotListView>(*manager, selection);
        }
        view->resize(windowSize);
        view->show();
        while (!manager->listLoaded()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        mainSeconds += threadSeconds() - started;
        state.PauseTiming(); // letting go of the list is not part of it
        view.reset();
        manager.reset();
        state.ResumeTiming();
    }
    state.counters["mainMs"] = benchmark::Counter(mainSeconds * 1e3 / double(state.iterations()));
}

BENCHMARK(firstPaintBaseline)->Name("firstPaint/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(firstPaintList)->Name("firstPaint/list")->Unit(benchmark::kMillisecond);
BENCHMARK(scrollBaseline)->Name("scrollStep/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(scrollList)->Name("scrollStep/list")->Unit(benchmark::kMillisecond);
BENCHMARK(resetBaseline)->Name("resetAfterSearch/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(resetList)->Name("resetAfterSearch/list")->Unit(benchmark::kMillisecond);
BENCHMARK(countsBaseline)->Name("sidebarCounts/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(countsSidebar)->Name("sidebarCounts/sidebar")->Unit(benchmark::kMillisecond);
// Main-thread CPU time per publication (the iteration time); mainMs says the same, paintedShare is how much of
// the viewport was painted for it, placeKept the share of publications after which the selection and the rows
// on screen were where they had been (at the top: the new row on top).
BENCHMARK_CAPTURE(captureIntoList, baseline, true, false)
    ->Name("captureInto100k/baseline")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(captureIntoList, list, false, false)
    ->Name("captureInto100k/list")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(captureIntoList, baseline, true, true)
    ->Name("captureInto100kAtTop/baseline")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(captureIntoList, list, false, true)
    ->Name("captureInto100kAtTop/list")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(textIntoList, baseline, true)
    ->Name("textInto100k/baseline")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(textIntoList, list, false)
    ->Name("textInto100k/list")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchIntoList, baseline, true)
    ->Name("searchInto100k/baseline")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchIntoList, list, false)
    ->Name("searchInto100k/list")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(firstListInWindow, baseline, true)
    ->Name("firstListInWindow/baseline")
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(firstListInWindow, list, false)
    ->Name("firstListInWindow/list")
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Resident memory with the list shown over the generated library of 100k screenshots with about 1 KB of
// recognised text each (the library benchmarks' library): the list manager with its whole list and the list
// view painted, each run a child process of its own, beside a plain QListView of as many text rows.

/// The resident memory of this process, in MiB.
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
        }
    }
    return 0;
}

/// The child's part: shows the list, lets the event loop settle and prints "rss <MiB>".
int runMemoryChild(int argc, char** argv, bool baseline)
{
    QApplication application(argc, argv);
    std::unique_ptr<QStringListModel> rows;
    std::unique_ptr<QListView> plain;
    std::shared_ptr<ScreenshotsDB> store;
    std::unique_ptr<ScreenshotsListManager> manager;
    LibrarySelection selection;
    std::unique_ptr<ScreenshotListView> list;
    QWidget* viewport = nullptr;
    if (baseline) {
        QStringList names;
        for (int index = 0; index < generated::screenshotCount; ++index) {
            names << QStringLiteral("Screen Shot %1").arg(index);
        }
        rows = std::make_unique<QStringListModel>(names);
        plain = makeBaselineView(*rows);
        plain->show();
        viewport = plain->viewport();
    } else {
        quietly([&] { store = generated::openStore(generated::libraryPath()); });
        manager = std::make_unique<ScreenshotsListManager>(store);
        bool listed = false;
        manager->whenListed([&] { listed = true; });
        while (!listed || !manager->listLoaded()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        list = std::make_unique<ScreenshotListView>(*manager, selection);
        list->resize(windowSize);
        list->show();
        if (!manager->screenshots().isEmpty()) {
            selection.setSelectedScreenshot(manager->screenshotAt(0));
            selection.setSelectionIndex(0);
        }
        viewport = list->viewport();
    }
    benchmark::DoNotOptimize(viewport->grab());
    // What showing left queued (the rows' thumbnails and texts) runs first.
    const QDeadlineTimer settled(500);
    while (!settled.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    std::printf("rss %.1f\n", residentMiB());
    std::fflush(stdout);
    return 0;
}

void windowShownMemory(benchmark::State& state, const char* mode)
{
    generated::generateLibrary();
    double rss = 0;
    for (auto _ : state) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
        if (!child.waitForFinished(300'000) || child.exitCode() != 0) {
            state.SkipWithError("the child showed no list");
            return;
        }
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("rss ")) {
                rss = std::max(rss, line.mid(4).toDouble());
            }
        }
    }
    state.counters["rss_MiB"] = rss;
}

BENCHMARK_CAPTURE(windowShownMemory, baseline, "--memory-child=baseline")
    ->Name("windowShownMemory100k/baseline")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(windowShownMemory, list, "--memory-child=list")
    ->Name("windowShownMemory100k/list")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Offscreen, and never the user's library: the data directory is a temporary one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    if (!data.isValid()) {
        return 2;
    }
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // A window paints what was marked for painting on the next turn of the event loop, not 5 ms later.
    qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
    if (argc > 1 && std::strncmp(argv[1], "--memory-child=", 15) == 0) {
        return runMemoryChild(argc, argv, std::strcmp(argv[1], "--memory-child=baseline") == 0);
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::fprintf(stderr, "Generating %d screenshots ...\n", screenshotCount);
    theLibrary = std::make_unique<BrowserLibrary>();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theLibrary.reset();
    return 0;
}
