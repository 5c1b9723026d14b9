// The library store on a generated library of 100k screenshots with about 1 KB of recognised text each:
// list reloads (plain, a search, a smart folder), lists ready in the window as a user types, the first list of
// a window, the sidebar counts, a rename, the look for damage on opening and the repairs of a damaged library, each
// beside the same work done with the raw SQLite C API. LUMETROVE_BENCH_LIBRARY_SIZE=1000000 runs them on a library of
// that many screenshots instead (the stress case).
#include "bench/GeneratedLibrary.h"
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/LibraryRepair.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "sqlite/Connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QString>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace lumetrove;
using namespace generated;

const QString midFrequencyWord = QString::fromStdString(word(500));
const QString smartKeywords = QString::fromStdString(word(900) + " " + word(1500) + " " + word(2500));

// The raw C API: the same statement text, every column read into the same plain values, and the folder links
// read once, as the store does.
struct RawLibrary {
    sqlite3* db = nullptr;
    RawLibrary() { sqlite3_open_v2(qPrintable(libraryPath()), &db, SQLITE_OPEN_READWRITE, nullptr); }
    ~RawLibrary() { sqlite3_close(db); }
};

std::optional<QString> rawText(sqlite3_stmt* statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// The columns that a list load reads; the start of the recognised text that a row shows is read for the rows
// shown, the whole text and the AI answers when first shown.
const std::string listColumns =
    "screenshots.id, screenshots.name, screenshots.created_at, screenshots.description, screenshots.keywords, "
    "screenshots.path, screenshots.captured_app_bundle_id, screenshots.captured_app_name, "
    "screenshots.is_ai_assistant_task, screenshots.ai_assistant_task, screenshots.was_imported";

/// The two patterns of a search: whole words for the porter index, prefixes for the word index.
std::vector<QString> searchPatterns(const std::optional<QString>& keywords, const std::optional<QString>& search)
{
    return {*ftsSearchQuery(keywords, search, false), *ftsSearchQuery(keywords, search)};
}

std::vector<ScreenshotRow> rawLoad(sqlite3* db, const char* sql, const std::vector<QString>& patterns)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        const QByteArray bytes = patterns[index].toUtf8();
        sqlite3_bind_text(statement, static_cast<int>(index + 1), bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    std::vector<ScreenshotRow> rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ScreenshotRow row;
        row.id = sqlite3_column_int64(statement, 0);
        row.name = rawText(statement, 1);
        row.createdAt = rawText(statement, 2);
        row.description = rawText(statement, 3);
        row.keywords = rawText(statement, 4);
        row.path = *rawText(statement, 5);
        row.capturedAppBundleId = rawText(statement, 6);
        row.capturedAppName = rawText(statement, 7);
        row.isAIAssistantTask = sqlite3_column_int64(statement, 8) != 0;
        row.aiAssistantTask = rawText(statement, 9);
        row.wasImported = sqlite3_column_int64(statement, 10) != 0;
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    QHash<qint64, qint64> folders;
    sqlite3_prepare_v2(db, "SELECT screenshot_id, folder_id FROM folders_screenshots", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        folders.insert(sqlite3_column_int64(statement, 0), sqlite3_column_int64(statement, 1));
    }
    sqlite3_finalize(statement);
    for (ScreenshotRow& row : rows) {
        if (const auto found = folders.constFind(row.id); found != folders.constEnd()) {
            row.folderId = *found;
        }
    }
    return rows;
}

const std::string rawReloadQuery = "SELECT " + listColumns + " FROM screenshots ORDER BY screenshots.id DESC";
const std::string rawSearchQuery =
    "SELECT " + listColumns +
    " FROM screenshots WHERE screenshots.id IN (SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH ?1 "
    "UNION SELECT rowid FROM screenshots_words WHERE screenshots_words MATCH ?2) ORDER BY screenshots.id DESC";
const char* const rawReload = rawReloadQuery.c_str();
const char* const rawSearch = rawSearchQuery.c_str();

void reloadBaseline(benchmark::State& state)
{
    generateLibrary();
    RawLibrary raw;
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = rawLoad(raw.db, rawReload, {}).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void reloadLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = ScreenshotsListManager::loadScreenshotRows(*store, std::nullopt, std::nullopt, std::nullopt).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void searchBaseline(benchmark::State& state)
{
    generateLibrary();
    RawLibrary raw;
    const std::vector<QString> patterns = searchPatterns(std::nullopt, midFrequencyWord);
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = rawLoad(raw.db, rawSearch, patterns).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void searchLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = ScreenshotsListManager::loadScreenshotRows(*store, midFrequencyWord, std::nullopt, std::nullopt).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void smartFolderBaseline(benchmark::State& state)
{
    generateLibrary();
    RawLibrary raw;
    const std::vector<QString> patterns = searchPatterns(smartKeywords, std::nullopt);
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = rawLoad(raw.db, rawSearch, patterns).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void smartFolderLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    const Folder smart{2, 0, QStringLiteral("Smart"), true, smartKeywords};
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = ScreenshotsListManager::loadScreenshotRows(*store, std::nullopt, smart, std::nullopt).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

std::int64_t rawCount(sqlite3* db, const char* sql, const std::vector<std::string>& texts)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    for (std::size_t index = 0; index < texts.size(); ++index) {
        sqlite3_bind_text(statement, static_cast<int>(index + 1), texts[index].c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_step(statement);
    const std::int64_t count = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return count;
}

void countsBaseline(benchmark::State& state)
{
    generateLibrary();
    RawLibrary raw;
    const std::vector<QString> smart = searchPatterns(smartKeywords, std::nullopt);
    std::int64_t rows = 0;
    for (auto _ : state) {
        rows = rawCount(raw.db, "SELECT count(*) FROM screenshots", {});
        for (const FolderSection& section : FolderSection::allCases()) {
            if (const auto range = dateRangeFilter(section)) {
                rows += rawCount(raw.db, "SELECT count(*) FROM screenshots WHERE created_at >= ? AND created_at <= ?",
                                 {range->lower.toStdString(), range->upper.toStdString()});
            }
        }
        rows += rawCount(raw.db, "SELECT count(*) FROM folders_screenshots WHERE folder_id = 1", {});
        rows += rawCount(raw.db,
                         "SELECT count(*) FROM screenshots WHERE id IN (SELECT rowid FROM screenshots_fts WHERE "
                         "screenshots_fts MATCH ? UNION SELECT rowid FROM screenshots_words WHERE screenshots_words "
                         "MATCH ?)",
                         {smart[0].toStdString(), smart[1].toStdString()});
    }
    state.counters["rows"] = static_cast<double>(rows); // the sum of the counts
}

void countsLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    const Folder plain{1, 0, QStringLiteral("Folder"), false, std::nullopt};
    const Folder smart{2, 0, QStringLiteral("Smart"), true, smartKeywords};
    qint64 rows = 0;
    for (auto _ : state) {
        rows = store->countScreenshots().value_or(0);
        for (const FolderSection& section : FolderSection::allCases()) {
            rows += store->countScreenshotsInPeriod(section).value_or(0);
        }
        rows += store->countScreenshotsInFolder(plain).value_or(0);
        rows += store->countScreenshotsInFolder(smart).value_or(0);
    }
    state.counters["rows"] = static_cast<double>(rows); // the sum of the counts
}

void renameBaseline(benchmark::State& state)
{
    generateLibrary();
    RawLibrary raw;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(raw.db, "UPDATE screenshots SET name = ? WHERE id = ?", -1, &statement, nullptr);
    std::int64_t id = 0;
    for (auto _ : state) {
        id = id % screenshotCount + 1;
        const std::string name = "Renamed " + std::to_string(id);
        sqlite3_bind_text(statement, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement, 2, id);
        sqlite3_step(statement);
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    state.counters["rows"] = 1;
}

void renameLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    qint64 id = 0;
    for (auto _ : state) {
        id = id % screenshotCount + 1;
        (void)store->updateScreenshot(id, {.name = QStringLiteral("Renamed %1").arg(id)});
    }
    state.counters["rows"] = 1;
}

// Lists ready in the window: a search text set on the list manager until its list is published, as a user
// types. The time is wall-clock (the load runs on the thread pool); mainMs is the main thread's CPU time per
// published list (starting the reload and publishing it), where the window would otherwise freeze.

const QString commonWord = QString::fromStdString(word(20)); // in about 60% of the screenshots
const QString shortPrefix = QStringLiteral("aaa");           // begins every word: every screenshot
// Two words that share a third of the screenshots, the second one all but typed.
const QString twoWords = QString::fromStdString(word(40) + " " + word(300).substr(0, 5));
// The same two words the other way round.
const QString twoWordsReversed = QString::fromStdString(word(300) + " " + word(40).substr(0, 5));

/// A page of text pasted into the search field: 100k characters of the library's own words, the most common
/// first (so that every word asked for matches many screenshots).
QString pastedPage()
{
    QString page;
    for (int rank = 0; page.size() < 100'000; rank = (rank + 1) % vocabularySize) {
        page += QString::fromStdString(word(rank)) + QLatin1Char(' ');
    }
    return page;
}
const QString pastedWords = pastedPage();
const QString pastedUnbroken(100'000, QChar('a')); // one "word" of 100k letters

double mainThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/// How long a list took to be shown: its first screenful (the first list published, which may be the first
/// part of it), the whole of it, and the main thread's CPU time for each list published on the way.
struct Shown {
    double firstSeconds = 0;
    double wholeSeconds = 0;
    double mainSeconds = 0;
    int published = 0;
};

/// Runs `start` (which starts a load of `manager`) and the event loop until the whole list is in place; the
/// times are from `before` (wall-clock) and `mainBefore` (the main thread's CPU time).
template <typename Start>
Shown showList(ScreenshotsListManager& manager, Start start, double before = monotonicSeconds(),
               double mainBefore = mainThreadSeconds())
{
    Shown shown;
    const auto published = QObject::connect(&manager, &ScreenshotsListManager::screenshotsChanged, [&] {
        if (shown.published++ == 0) {
            shown.firstSeconds = monotonicSeconds();
        }
    });
    bool listed = false;
    start();
    manager.whenListed([&] { listed = true; });
    while (!listed) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    shown.mainSeconds = mainThreadSeconds() - mainBefore;
    shown.wholeSeconds = monotonicSeconds() - before;
    shown.firstSeconds = shown.published > 0 ? shown.firstSeconds - before : shown.wholeSeconds;
    QObject::disconnect(published);
    return shown;
}

/// Each iteration shows `search` coming from `from`, which differs in its list, so every reload publishes.
/// With `renameFirst`, one screenshot is renamed through the store in between: the list after a write, which
/// reads every row's list columns again. The time is wall-clock to the first screenful (the load runs on the
/// thread pool); wholeMs is the time to the whole list, mainMs the main thread's CPU time per published list
/// (starting the reload and publishing it), where the window would otherwise freeze.
void listReady(benchmark::State& state, const QString& from, const QString& search, bool renameFirst = false)
{
    const auto store = openLibrary();
    ScreenshotsListManager manager(store);
    showList(manager, [] {});
    double wholeSeconds = 0;
    double mainSeconds = 0;
    int published = 0;
    qint64 id = 0;
    for (auto _ : state) {
        showList(manager, [&] { manager.setSearchFilter(from); });
        if (renameFirst) {
            id = id % screenshotCount + 1;
            (void)store->updateScreenshot(id, {.name = QStringLiteral("Renamed %1").arg(id),
                                               .path = QStringLiteral("file:///tmp/Renamed%20%1.png").arg(id)});
        }
        const Shown shown = showList(manager, [&] { manager.setSearchFilter(search); });
        state.SetIterationTime(shown.firstSeconds);
        wholeSeconds += shown.wholeSeconds;
        mainSeconds += shown.mainSeconds;
        published += std::max(shown.published, 1);
    }
    state.counters["rows"] = static_cast<double>(manager.screenshots().size());
    state.counters["wholeMs"] = wholeSeconds * 1000 / static_cast<double>(state.iterations());
    state.counters["mainMs"] = mainSeconds * 1000 / published;
}

void listRawQuery(benchmark::State& state, const char* sql, const std::optional<QString>& search)
{
    generateLibrary();
    RawLibrary raw;
    const std::vector<QString> patterns = search ? searchPatterns(std::nullopt, *search) : std::vector<QString>();
    // Once untimed: the first read of the file pays for filling the page cache.
    std::size_t rows = rawLoad(raw.db, sql, patterns).size();
    for (auto _ : state) {
        rows = rawLoad(raw.db, sql, patterns).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

BENCHMARK_CAPTURE(listRawQuery, reload, rawReload, std::nullopt)
    ->Name("listReload/baseline")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, reload, commonWord, QString())
    ->Name("listReload/library")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listRawQuery, commonWord, rawSearch, commonWord)
    ->Name("listCommonWord/baseline")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, commonWord, midFrequencyWord, commonWord)
    ->Name("listCommonWord/library")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listRawQuery, shortPrefix, rawSearch, shortPrefix)
    ->Name("listShortPrefix/baseline")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, shortPrefix, midFrequencyWord, shortPrefix)
    ->Name("listShortPrefix/library")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

// Several words and pasted pages: the list for the first words of any text a user can paste is ready as soon
// as that of a search of one common word.
BENCHMARK_CAPTURE(listReady, twoWords, midFrequencyWord, twoWords)
    ->Name("listCommonWord/library:twoWords")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, twoWordsReversed, midFrequencyWord, twoWordsReversed)
    ->Name("listCommonWord/library:twoWordsReversed")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, pastedWords, midFrequencyWord, pastedWords)
    ->Name("listCommonWord/library:pasted100kWords")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, pastedUnbroken, midFrequencyWord, pastedUnbroken)
    ->Name("listCommonWord/library:pasted100kUnbroken")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(listRawQuery, afterRename, rawReload, std::nullopt)
    ->Name("listAfterRename/baseline")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listReady, afterRename, commonWord, QString(), true)
    ->Name("listAfterRename/library")
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

/// The first list of a window: from making the list manager until its first screenful is published. The time is
/// wall-clock; wholeMs is the time to the whole list, mainMs the main thread's CPU time per published list.
void firstList(benchmark::State& state)
{
    const auto store = openLibrary();
    double wholeSeconds = 0;
    double mainSeconds = 0;
    int published = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        const double before = monotonicSeconds();
        const double mainBefore = mainThreadSeconds();
        // Its load starts on the pool; its lists are published by the event loop, which runs after this.
        auto manager = std::make_unique<ScreenshotsListManager>(store);
        const Shown shown = showList(
            *manager, [] {}, before, mainBefore);
        state.SetIterationTime(shown.firstSeconds);
        wholeSeconds += shown.wholeSeconds;
        mainSeconds += shown.mainSeconds;
        published += std::max(shown.published, 1);
        rows = std::size_t(manager->screenshots().size());
        manager.reset(); // letting go of the list is not part of it
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["wholeMs"] = wholeSeconds * 1000 / static_cast<double>(state.iterations());
    state.counters["mainMs"] = mainSeconds * 1000 / published;
}

BENCHMARK_CAPTURE(listRawQuery, firstList, rawReload, std::nullopt)
    ->Name("firstList/baseline")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(firstList)->Name("firstList/library")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK(reloadBaseline)->Name("reload/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(reloadLibrary)->Name("reload/library")->Unit(benchmark::kMillisecond);
BENCHMARK(searchBaseline)->Name("search/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(searchLibrary)->Name("search/library")->Unit(benchmark::kMillisecond);
BENCHMARK(smartFolderBaseline)->Name("smartFolder/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(smartFolderLibrary)->Name("smartFolder/library")->Unit(benchmark::kMillisecond);
BENCHMARK(countsBaseline)->Name("counts/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(countsLibrary)->Name("counts/library")->Unit(benchmark::kMillisecond);
BENCHMARK(renameBaseline)->Name("rename/baseline")->Unit(benchmark::kMicrosecond);
BENCHMARK(renameLibrary)->Name("rename/library")->Unit(benchmark::kMicrosecond);

// The look for damage that opening the library makes: bounded by `ScreenshotsDB::openingCheckTime`, beside
// SQLite's quick check of the whole file, which the bound keeps a large library's opening from waiting for.
// checks is how many of the look's checks ran to their end, complete whether all of them did.
void openingCheckLibrary(benchmark::State& state)
{
    const auto store = openLibrary();
    DamageFound found;
    for (auto _ : state) {
        found = findDamage(*store->db(), ScreenshotsDB::openingCheckTime);
        benchmark::DoNotOptimize(found);
    }
    state.counters["budgetMs"] = static_cast<double>(ScreenshotsDB::openingCheckTime.count());
    state.counters["checks"] = found.checksDone;
    state.counters["complete"] = found.complete ? 1 : 0;
    state.counters["damaged"] = found.damage ? 1 : 0;
}

void openingCheckBaseline(benchmark::State& state)
{
    generateLibrary();
    const RawLibrary library;
    for (auto _ : state) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(library.db, "PRAGMA quick_check", -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
        sqlite3_finalize(statement);
    }
}

BENCHMARK(openingCheckBaseline)
    ->Name("openingCheck/baseline")
    ->UseRealTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(openingCheckLibrary)->Name("openingCheck/library")->UseRealTime()->Unit(benchmark::kMillisecond);

/// Overwrites the first page of every table and index of the library at `path` whose name is like `pattern`.
void damageFirstPages(const QString& path, const char* pattern)
{
    std::vector<qint64> pages;
    sqlite3* raw = nullptr;
    sqlite3_open_v2(qPrintable(path), &raw, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(raw, "SELECT rootpage FROM sqlite_master WHERE name LIKE ?", -1, &statement, nullptr);
    sqlite3_bind_text(statement, 1, pattern, -1, SQLITE_STATIC);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        pages.push_back(sqlite3_column_int64(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(raw);
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    for (const qint64 page : pages) {
        file.seek((page - 1) * 4096);
        file.write(QByteArray(4096, '\x5a'));
    }
    // As another writer would, so that a connection open on it reads the file again.
    file.seek(24);
    QByteArray counter = file.read(4);
    counter[3] = static_cast<char>(counter[3] + 1);
    file.seek(24);
    file.write(counter);
}

void removeCopies(const QString& copy)
{
    for (const QString& left :
         QDir(QDir::tempPath()).entryList({QFileInfo(copy).fileName() + QStringLiteral("*")}, QDir::Files)) {
        QFile::remove(QDir::tempPath() + QLatin1Char('/') + left);
    }
}

// A library found damaged by an operation of the main thread (the note of a new image, whose table's first page
// is overwritten): how long that thread is held. The baseline is the repair made by the thread that met the
// damage, as every thread but the main one does it; the library's variant hands it to a thread of its own while
// the window says so. repairS is how long the repair took.
void repairMetOnMainThread(benchmark::State& state, bool inBackground)
{
    generateLibrary();
    const QString copy = QDir::tempPath() + QStringLiteral("/lumetrove-bench-repair-%1.sqlite3").arg(getpid());
    const QString image = QDir::tempPath() + QStringLiteral("/lumetrove-bench-repair-%1.png").arg(getpid());
    for (auto _ : state) {
        QFile::remove(copy);
        QFile::copy(libraryPath(), copy);
        const auto store = openStore(copy);
        store->setRepairsInBackground(inBackground);
        damageFirstPages(copy, "%pending_new_images%");

        QElapsedTimer timer;
        timer.start();
        std::fflush(stdout);
        const std::optional<QString> error = writeNewImage(store.get(), image, "png", QStringLiteral("Met"), false);
        const qint64 heldNs = timer.nsecsElapsed();
        while (store->repairingInBackground()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        state.counters["repairS"] = double(timer.nsecsElapsed()) / 1e9;
        state.counters["kept"] = error ? 0 : 1;
        state.SetIterationTime(double(heldNs) / 1e9);
        QFile::remove(image);
    }
    removeCopies(copy);
}

// A library found damaged by the look on opening (the first page of the folders table overwritten): how long the
// open holds the thread that opens it, the window's. The baseline repairs before the open returns; the library's
// variant, as the program opens its library, returns at once and repairs on a thread of its own. repairS is how
// long the repair took.
void repairFoundOnOpening(benchmark::State& state, bool inBackground)
{
    generateLibrary();
    const QString copy = QDir::tempPath() + QStringLiteral("/lumetrove-bench-opening-%1.sqlite3").arg(getpid());
    for (auto _ : state) {
        QFile::remove(copy);
        QFile::copy(libraryPath(), copy);
        damageFirstPages(copy, "folders");

        QElapsedTimer timer;
        timer.start();
        std::fflush(stdout);
        const auto store = std::make_shared<ScreenshotsDB>();
        store->setRepairsInBackground(inBackground);
        store->openDatabase(copy);
        const qint64 heldNs = timer.nsecsElapsed();
        while (store->repairingInBackground()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        state.counters["repairS"] = double(timer.nsecsElapsed()) / 1e9;
        state.counters["repaired"] = store->repairCount();
        state.SetIterationTime(double(heldNs) / 1e9);
    }
    removeCopies(copy);
}

BENCHMARK_CAPTURE(repairMetOnMainThread, baseline, false)
    ->Name("repairMetOnMainThread/baseline")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(repairMetOnMainThread, library, true)
    ->Name("repairMetOnMainThread/library")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(repairFoundOnOpening, baseline, false)
    ->Name("repairFoundOnOpening/baseline")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(repairFoundOnOpening, library, true)
    ->Name("repairFoundOnOpening/library")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

// The list manager publishes through the event loop, which needs an application object.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
