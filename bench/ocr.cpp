// Text recognition of everyday full-HD screens (bench/ScreenCorpus.h) at device pixel ratio 1 and 2: the
// recogniser beside the tesseract command line in its default settings on the same images, in the same run
// (the command line with OpenMP limited to one thread, as its documentation advises).
//
// Rows:
//   ocr_corpus_r<ratio>/<variant>   time = mean wall time per image; recall_mean, recall_min over every image
//   ocr_<kind>_r<ratio>/<variant>   the same over the screens of one kind (buttons, terminals, tables, …)
//   ocr_loaded_r1/<variant>         a few screens read while every core is kept busy by other processes;
//                                   cpu_s is this program's (or the command line's) CPU time per image
//   ocr_sweeps_r<ratio>/<variant>   the generated sweeps (bench/ocr_sweeps.h): every size, weight, family and
//                                   polarity of each kind of text, dense panels, tables, headings, cut words
//   ocr_sweep_<kind>_r<ratio>/<variant>  the same over one kind of text or of screen
// Rows of the recogniser count in `below` the images where it reads fewer words than the command line.
// LUMETROVE_OCR_SWEEP_SHARE=N reads every N-th image of each sweep set only (a quick run; 1, all of them, by
// default); LUMETROVE_OCR_SWEEP=0 leaves the sweeps out. LUMETROVE_OCR_BASELINE_CACHE=DIR keeps the command line's
// readings (text and times) there and takes them from there on the next run: they change with the image only.
// LUMETROVE_OCR_EACH_IMAGE=1 adds a row per image (ocr_<screen>_r<ratio>/<variant>); LUMETROVE_OCR_SAVE=DIR
// writes the screens there as PNG files, to look at; LUMETROVE_OCR_MISSED=1 prints the words each reading missed.

#include "bench/ScreenCorpus.h"
#include "bench/ocr_sweeps.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <sys/resource.h>
#include <thread>

namespace {

using lumetrove::bench::CorpusScreen;

struct Reading {
    double recall = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

enum class Variant { baseline, recognizer };

/// The screens of the corpus, or the sweep images.
enum class Set { corpus, sweeps };

int sweepShare()
{
    return std::max(1, qEnvironmentVariableIntValue("LUMETROVE_OCR_SWEEP_SHARE"));
}

const std::vector<CorpusScreen>& screens(Set set, int ratio)
{
    static std::map<std::pair<Set, int>, std::vector<CorpusScreen>> rendered;
    auto found = rendered.find({set, ratio});
    if (found == rendered.end()) {
        std::vector<CorpusScreen> made = set == Set::corpus ? lumetrove::bench::renderCorpus(ratio)
                                                            : lumetrove::bench::renderSweeps(ratio, sweepShare());
        found = rendered.emplace(std::pair{set, ratio}, std::move(made)).first;
        if (const QString directory = qEnvironmentVariable("LUMETROVE_OCR_SAVE"); !directory.isEmpty()) {
            for (const CorpusScreen& screen : found->second) {
                screen.image.save(QStringLiteral("%1/%2@%3x.png").arg(directory, screen.name).arg(ratio));
            }
        }
    }
    return found->second;
}

const std::vector<CorpusScreen>& corpus(int ratio)
{
    return screens(Set::corpus, ratio);
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Where the command line's reading of `image` is kept, or an empty path when readings are not kept.
QString cachedBaselinePath(const QImage& image)
{
    const QString directory = qEnvironmentVariable("LUMETROVE_OCR_BASELINE_CACHE");
    if (directory.isEmpty()) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    hash.addData(QByteArray::number(image.width()) + 'x' + QByteArray::number(image.height()));
    QDir().mkpath(directory);
    return QDir(directory).filePath(QString::fromLatin1(hash.result().toHex()) + QStringLiteral(".txt"));
}

/// The command line's text for `screen`, timed into `reading`; nullopt when it failed.
std::optional<QString> readWithCommandLine(const CorpusScreen& screen, Reading& reading)
{
    const QString kept = cachedBaselinePath(screen.image);
    if (QFile file(kept); !kept.isEmpty() && file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> times = file.readLine().trimmed().split(' ');
        if (times.size() == 2) {
            reading.seconds = times[0].toDouble();
            reading.cpuSeconds = times[1].toDouble();
            return QString::fromUtf8(file.readAll());
        }
    }
    // The command line gets the file a user would hand it: the PNG as stored, pixels only.
    static QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("screen.png"));
    screen.image.save(path);
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess tesseract;
    // OpenMP limited to one thread, as the command line's documentation advises: on a machine busy with
    // other work its spinning workers take minutes for one screen.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    tesseract.setProcessEnvironment(environment);
    tesseract.start(QStringLiteral("tesseract"), {path, QStringLiteral("stdout")});
    if (!tesseract.waitForFinished(600000) || tesseract.exitCode() != 0) {
        return std::nullopt;
    }
    reading.seconds = double(timer.nsecsElapsed()) / 1e9;
    reading.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    const QByteArray text = tesseract.readAllStandardOutput();
    if (QFile file(kept); !kept.isEmpty() && file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray::number(reading.seconds) + ' ' + QByteArray::number(reading.cpuSeconds) + '\n' + text);
    }
    return QString::fromUtf8(text);
}

/// Reads one screen; nullopt when the command line failed.
std::optional<Reading> read(const CorpusScreen& screen, Variant variant)
{
    Reading reading;
    QString text;
    if (variant == Variant::baseline) {
        const std::optional<QString> read = readWithCommandLine(screen, reading);
        if (!read) {
            return std::nullopt;
        }
        text = *read;
    } else {
        static const auto recognizer = [] {
            auto made = lumetrove::sharedTextRecognizer();
            made->recognize(corpus(1).front().image); // every reading thread makes its engine once, not per screen
            return made;
        }();
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        QElapsedTimer timer;
        timer.start();
        text = recognizer->recognize(screen.image).joinedLines();
        reading.seconds = double(timer.nsecsElapsed()) / 1e9;
        reading.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    }
    reading.recall = lumetrove::bench::wordRecall(screen.words, text);
    if (qEnvironmentVariableIsSet("LUMETROVE_OCR_MISSED") && reading.recall < 1) {
        fprintf(stderr, "%s@%gx %s missed: %s\n", qPrintable(screen.name), screen.image.devicePixelRatio(),
                variant == Variant::baseline ? "baseline" : "recognizer",
                qPrintable(lumetrove::bench::missedWords(screen.words, text).join(QLatin1Char(' '))));
    }
    return reading;
}

/// Each image is read once per variant and ratio; the rows share the readings.
std::optional<Reading> cachedRead(const CorpusScreen& screen, int ratio, Variant variant)
{
    static std::map<std::tuple<QString, int, Variant>, std::optional<Reading>> readings;
    const auto key = std::tuple{screen.name, ratio, variant};
    auto found = readings.find(key);
    if (found == readings.end()) {
        found = readings.emplace(key, read(screen, variant)).first;
    }
    return found->second;
}

/// A row over the images of `set` at `ratio` that `selected` picks: mean time per image as the row's time.
void readScreens(benchmark::State& state, Set set, int ratio, Variant variant,
                 const std::function<bool(const CorpusScreen&)>& selected)
{
    double recallSum = 0, recallMin = 1, seconds = 0, cpu = 0;
    int images = 0, words = 0, below = 0;
    for (const CorpusScreen& screen : screens(set, ratio)) {
        if (!selected(screen)) {
            continue;
        }
        const std::optional<Reading> reading = cachedRead(screen, ratio, variant);
        const std::optional<Reading> baseline =
            variant == Variant::baseline ? reading : cachedRead(screen, ratio, Variant::baseline);
        if (!reading || !baseline) {
            state.SkipWithError("the tesseract command line failed");
            return;
        }
        // Recall of one image is found words over shown words: fewer words read is a lower recall.
        below += reading->recall < baseline->recall - 1e-9;
        recallSum += reading->recall;
        recallMin = std::min(recallMin, reading->recall);
        seconds += reading->seconds;
        cpu += reading->cpuSeconds;
        words += static_cast<int>(screen.words.size());
        ++images;
    }
    for (auto _ : state) {
        state.SetIterationTime(images > 0 ? seconds / images : 0);
    }
    state.counters["recall_mean"] = images > 0 ? recallSum / images : 0;
    state.counters["recall_min"] = recallMin;
    state.counters["cpu_s"] = images > 0 ? cpu / images : 0;
    state.counters["images"] = images;
    state.counters["words"] = words;
    if (variant == Variant::recognizer) {
        state.counters["below"] = below;
    }
}

/// Screens read while other processes keep every core busy: a reading thread whose OpenMP workers spin
/// for a core shows here as time and CPU far above the unloaded row.
void readUnderLoad(benchmark::State& state, Variant variant)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::unique_ptr<QProcess>> load;
    for (unsigned i = 0; i < cores; ++i) {
        auto& busy = load.emplace_back(std::make_unique<QProcess>());
        busy->start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        busy->waitForStarted();
    }
    double recallSum = 0, seconds = 0, cpu = 0;
    int images = 0;
    for (auto _ : state) {
        double iterationSeconds = 0;
        for (const char* name : {"document-light", "buttons-colours", "terminal-dark", "table-light"}) {
            for (const CorpusScreen& screen : corpus(1)) {
                if (screen.name != QLatin1String(name)) {
                    continue;
                }
                const std::optional<Reading> reading = read(screen, variant);
                if (!reading) {
                    state.SkipWithError("the tesseract command line failed");
                    break;
                }
                recallSum += reading->recall;
                seconds += reading->seconds;
                iterationSeconds += reading->seconds;
                cpu += reading->cpuSeconds;
                ++images;
            }
        }
        state.SetIterationTime(iterationSeconds / 4);
    }
    for (auto& busy : load) {
        busy->kill();
        busy->waitForFinished();
    }
    state.counters["recall_mean"] = images > 0 ? recallSum / images : 0;
    state.counters["cpu_s"] = images > 0 ? cpu / images : 0;
    state.counters["images"] = images;
}

void registerRow(const std::string& name, Set set, int ratio, Variant variant,
                 std::function<bool(const CorpusScreen&)> selected)
{
    benchmark::RegisterBenchmark(name.c_str(),
                                 [set, ratio, variant, selected = std::move(selected)](benchmark::State& state) {
                                     readScreens(state, set, ratio, variant, selected);
                                 })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

/// The kinds of the images of `set`, in their order.
QStringList kindsOf(Set set)
{
    QStringList kinds;
    for (const CorpusScreen& screen : screens(set, 1)) {
        if (!kinds.contains(screen.kind)) {
            kinds.append(screen.kind);
        }
    }
    return kinds;
}

void registerRows(bool eachImage, bool sweeps)
{
    const std::pair<Variant, const char*> variants[] = {{Variant::baseline, "baseline"},
                                                        {Variant::recognizer, "recognizer"}};
    std::vector<std::pair<Set, std::string>> sets{{Set::corpus, "corpus"}};
    if (sweeps) {
        sets.emplace_back(Set::sweeps, "sweeps");
    }
    for (const auto& [set, setName] : sets) {
        const std::string kindPrefix = set == Set::corpus ? "ocr_" : "ocr_sweep_";
        for (const int ratio : {1, 2}) {
            const std::string suffix = "_r" + std::to_string(ratio);
            for (const auto& [variant, variantName] : variants) {
                registerRow("ocr_" + setName + suffix + "/" + variantName, set, ratio, variant,
                            [](const CorpusScreen&) { return true; });
            }
            for (const QString& kind : kindsOf(set)) {
                for (const auto& [variant, variantName] : variants) {
                    registerRow(kindPrefix + kind.toStdString() + suffix + "/" + variantName, set, ratio, variant,
                                [kind](const CorpusScreen& screen) { return screen.kind == kind; });
                }
            }
            if (!eachImage) {
                continue;
            }
            for (const CorpusScreen& screen : screens(set, 1)) {
                for (const auto& [variant, variantName] : variants) {
                    registerRow("ocr_" + screen.name.toStdString() + suffix + "/" + variantName, set, ratio, variant,
                                [name = screen.name](const CorpusScreen& screen) { return screen.name == name; });
                }
            }
        }
    }
    for (const auto& [variant, variantName] : variants) {
        benchmark::RegisterBenchmark((std::string("ocr_loaded_r1/") + variantName).c_str(),
                                     [variant](benchmark::State& state) { readUnderLoad(state, variant); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The recogniser measured is this process's own, the engine the helper runs.
    lumetrove::setSharedTextRecognizer(lumetrove::makeTesseractTextRecognizer());
    benchmark::Initialize(&argc, argv);
    registerRows(qEnvironmentVariableIntValue("LUMETROVE_OCR_EACH_IMAGE") != 0,
                 qEnvironmentVariable("LUMETROVE_OCR_SWEEP") != QLatin1String("0"));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
