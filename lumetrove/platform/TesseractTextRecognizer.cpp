#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFuture>
#include <QPainter>
#include <QThreadPool>
#include <QUnhandledException>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <vector>

namespace lumetrove {

namespace {

// Screen text is small, often light on dark, and lies in columns (a document beside an editor beside a
// panel). The engine reads dark text on a light ground with an x-height of ten pixels or more best, so:
//  - the page is cut into blocks of text (recursive XY cut). What separates blocks is measured in contrast
//    transitions between neighbouring pixels, with long straight runs (window edges, dividers, rules) taken
//    out, so that window borders and coloured panels do not hold blocks together;
//  - every block is turned dark-on-light by its own background (its most common grey level), so a dark
//    editor beside a light window is read as well as the window;
//  - images at 1x are scaled up twice, which brings 10 px status-bar text to a size the engine reads;
//  - the blocks are read in parallel, each thread with its own engine, and come back in reading order.

constexpr int contrastStep = 40;   // grey-level difference between neighbours that counts as a transition
constexpr int structuralRun = 64;  // a straight run of transitions at least this long (1x pixels) is an edge
constexpr int columnGapWidth = 12; // blank columns (1x pixels) that separate blocks: wider than a word space
constexpr int blockPadding = 10;   // white margin around a block handed to the engine, scaled pixels
constexpr int maximumParallelReads = 4;

QImage flattenedGray(const QImage& image)
{
    if (!image.hasAlphaChannel()) {
        return image.convertToFormat(QImage::Format_Grayscale8);
    }
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, image);
    painter.end();
    return opaque.convertToFormat(QImage::Format_Grayscale8);
}

/// Transition maps of a grey image: `across` marks a contrast step from the left neighbour (text and
/// vertical edges), `down` one from the neighbour above (text and horizontal edges). Straight runs longer
/// than `run` (vertical runs in `across`, horizontal runs in `down`) are cleared: they are edges, not text.
struct Transitions {
    int width = 0;
    int height = 0;
    std::vector<quint8> across;
    std::vector<quint8> down;

    Transitions(const QImage& gray, int run) : width(gray.width()), height(gray.height())
    {
        const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
        across.assign(size, 0);
        down.assign(size, 0);
        for (int y = 0; y < height; ++y) {
            const uchar* row = gray.constScanLine(y);
            const uchar* above = y > 0 ? gray.constScanLine(y - 1) : row;
            for (int x = 0; x < width; ++x) {
                const size_t i = index(x, y);
                across[i] = x > 0 && std::abs(row[x] - row[x - 1]) > contrastStep;
                down[i] = std::abs(row[x] - above[x]) > contrastStep;
            }
        }
        for (int x = 0; x < width; ++x) {
            clearLongRuns(height, run, [&](int y) -> quint8& { return across[index(x, y)]; });
        }
        for (int y = 0; y < height; ++y) {
            clearLongRuns(width, run, [&](int x) -> quint8& { return down[index(x, y)]; });
        }
    }

    size_t index(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; }

    template <typename At> static void clearLongRuns(int length, int run, At at)
    {
        int start = 0;
        for (int i = 0; i <= length; ++i) {
            if (i < length && at(i)) {
                continue;
            }
            if (i - start >= run) {
                for (int j = start; j < i; ++j) {
                    at(j) = 0;
                }
            }
            start = i + 1;
        }
    }
};

/// Recursive XY cut of `area`: trims blank margins, then splits at the widest interior gap of blank rows,
/// or of blank columns at least `columnGap` wide, and appends the leaves in reading order (top to bottom,
/// then left to right).
void cutIntoBlocks(const Transitions& map, QRect area, int columnGap, std::vector<QRect>& blocks, int depth = 0)
{
    std::vector<int> rows(static_cast<size_t>(area.height()), 0);
    std::vector<int> columns(static_cast<size_t>(area.width()), 0);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const size_t i = map.index(x, y);
            rows[static_cast<size_t>(y - area.top())] += map.across[i];
            columns[static_cast<size_t>(x - area.left())] += map.down[i];
        }
    }
    const auto span = [](const std::vector<int>& ink) {
        size_t first = 0, last = ink.size();
        while (first < last && ink[first] == 0) {
            ++first;
        }
        while (last > first && ink[last - 1] == 0) {
            --last;
        }
        return std::pair{first, last};
    };
    const auto [top, bottom] = span(rows);
    const auto [left, right] = span(columns);
    if (top == bottom || left == right) {
        return; // no text here
    }
    const QRect trimmed(area.left() + static_cast<int>(left), area.top() + static_cast<int>(top),
                        static_cast<int>(right - left), static_cast<int>(bottom - top));
    const auto widestGap = [](const std::vector<int>& ink, size_t begin, size_t end) {
        size_t bestStart = 0, bestLength = 0, runStart = 0, runLength = 0;
        for (size_t i = begin; i < end; ++i) {
            if (ink[i] != 0) {
                runLength = 0;
                continue;
            }
            runStart = runLength == 0 ? i : runStart;
            if (++runLength > bestLength) {
                bestLength = runLength;
                bestStart = runStart;
            }
        }
        return std::pair{static_cast<int>(bestStart), static_cast<int>(bestLength)};
    };
    const auto [rowGap, rowGapLength] = widestGap(rows, top, bottom);
    const auto [columnGapStart, columnGapLength] = widestGap(columns, left, right);
    const bool cutColumns = columnGapLength >= columnGap;
    // Cutting stops at a depth that no real screen reaches, as a guard against pathological images.
    if (depth > 64 || (rowGapLength == 0 && !cutColumns)) {
        blocks.push_back(trimmed);
        return;
    }
    if (cutColumns && columnGapLength >= rowGapLength) {
        const int x = area.left() + columnGapStart;
        cutIntoBlocks(map, QRect(QPoint(trimmed.left(), trimmed.top()), QPoint(x - 1, trimmed.bottom())), columnGap,
                      blocks, depth + 1);
        cutIntoBlocks(map, QRect(QPoint(x + columnGapLength, trimmed.top()), trimmed.bottomRight()), columnGap, blocks,
                      depth + 1);
    } else {
        const int y = area.top() + rowGap;
        cutIntoBlocks(map, QRect(trimmed.topLeft(), QPoint(trimmed.right(), y - 1)), columnGap, blocks, depth + 1);
        cutIntoBlocks(map, QRect(QPoint(trimmed.left(), y + rowGapLength), trimmed.bottomRight()), columnGap, blocks,
                      depth + 1);
    }
}

/// The most common grey level of `area`: the background of the text in it.
int backgroundLevel(const QImage& gray, const QRect& area)
{
    std::array<int, 256> histogram{};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            ++histogram[row[x]];
        }
    }
    return static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
}

/// A block of text lines and the height of its smallest line, which decides how much it is scaled up.
struct TextBlock {
    QRect area;
    int lineHeight = 0;
};

/// Joins the lines that the cut separated back into paragraphs and columns: a leaf joins the block before
/// it when it lies just below it, overlaps it horizontally and has a background of the same kind.
std::vector<TextBlock> mergeIntoParagraphs(const QImage& gray, const std::vector<QRect>& leaves)
{
    std::vector<TextBlock> blocks;
    bool lastDark = false;
    int lastLineHeight = 0;
    for (const QRect& leaf : leaves) {
        const bool dark = backgroundLevel(gray, leaf) < 128;
        if (!blocks.empty()) {
            TextBlock& block = blocks.back();
            const int gap = leaf.top() - block.area.bottom();
            const bool overlaps = leaf.left() < block.area.right() && leaf.right() > block.area.left();
            if (dark == lastDark && overlaps && gap >= 0 && gap < std::max(leaf.height(), lastLineHeight)) {
                block.area = block.area.united(leaf);
                block.lineHeight = std::min(block.lineHeight, leaf.height());
                lastLineHeight = leaf.height();
                continue;
            }
        }
        blocks.push_back(TextBlock{leaf, leaf.height()});
        lastDark = dark;
        lastLineHeight = leaf.height();
    }
    return blocks;
}

/// One block made ready for the engine: dark-on-light, scaled, with a white margin.
struct BlockImage {
    QImage gray;
    QPointF origin; // where the block's (0, 0) lies in the source image
    double scale = 1;
};

BlockImage prepareBlock(const QImage& gray, const TextBlock& block)
{
    // Lines of interface text are 12 to 18 px high at 1x. The engine reads them well from about 24 px high;
    // scaling further up only costs time.
    const int scale = std::clamp(qRound(24.0 / std::max(1, block.lineHeight)), 1, 4);
    const QRect area = block.area.adjusted(-3, -3, 3, 3).intersected(gray.rect());
    QImage crop = gray.copy(area);
    int background = backgroundLevel(gray, block.area);
    if (background < 128) {
        crop.invertPixels();
        background = 255 - background;
    }
    // The ground is stretched to white: a grey ground inside the white margin would be an edge that the
    // engine reads as a quote mark or a bar.
    if (background < 250) {
        std::array<uchar, 256> stretch{};
        for (int level = 0; level < 256; ++level) {
            stretch[static_cast<size_t>(level)] =
                static_cast<uchar>(std::min(255, level * 255 / std::max(1, background)));
        }
        for (int y = 0; y < crop.height(); ++y) {
            uchar* row = crop.scanLine(y);
            std::transform(row, row + crop.width(), row, [&](uchar level) { return stretch[level]; });
        }
    }
    if (scale != 1) {
        crop = crop.scaled(crop.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    BlockImage prepared;
    prepared.gray = QImage(crop.size() + QSize(2 * blockPadding, 2 * blockPadding), QImage::Format_Grayscale8);
    prepared.gray.fill(255);
    QPainter painter(&prepared.gray);
    painter.drawImage(blockPadding, blockPadding, crop);
    painter.end();
    prepared.scale = scale;
    prepared.origin = QPointF(area.topLeft()) - QPointF(blockPadding, blockPadding) / scale;
    return prepared;
}

struct EngineDeleter {
    void operator()(tesseract::TessBaseAPI* engine) const
    {
        engine->End();
        delete engine;
    }
};
using Engine = std::unique_ptr<tesseract::TessBaseAPI, EngineDeleter>;

Engine makeEngine()
{
    // Tesseract parallelises tiny steps with OpenMP, whose spinning threads only slow it down beside the
    // blocks read in parallel here (its documentation says to limit it to one thread). The limit has to be
    // set in each thread: OMP_THREAD_LIMIT is read only when the process starts.
    thread_local const bool limited = [] {
        omp_set_max_active_levels(0);
        return true;
    }();
    (void)limited;
    Engine made(new tesseract::TessBaseAPI);
    if (made->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
        throw TextRecognitionError("Tesseract could not load its English language data");
    }
    // Interface text comes in short lines and single words; the block is read as one column of lines.
    made->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    made->SetVariable("debug_file", "/dev/null");
    return made;
}

/// Engines between recognitions. Loading the model costs a tenth of a second, so engines are kept for the
/// next read while they are wanted kept; each holds tens of megabytes, which a program idle in the tray
/// gives back.
class EnginePool {
public:
    static EnginePool& shared()
    {
        static EnginePool* pool = [] {
            auto* made = new EnginePool;
            onTextRecognitionKeepingChanged([made](bool kept) {
                if (!kept) {
                    made->endIdle();
                }
            });
            return made;
        }();
        return *pool;
    }

    Engine take()
    {
        {
            const std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                Engine engine = std::move(idle_.back());
                idle_.pop_back();
                return engine;
            }
            ++engines_; // before it is made: the shared dictionaries are not cleared under it
        }
        try {
            return makeEngine();
        } catch (...) {
            const std::lock_guard lock(mutex_);
            --engines_;
            throw;
        }
    }

    /// Idle from now on; ended at once when engines are not kept. Asked after the engine is idle, so that a
    /// change of the keeping meanwhile, which ends the idle ones, cannot miss it.
    void giveBack(Engine engine)
    {
        {
            const std::lock_guard lock(mutex_);
            idle_.push_back(std::move(engine));
        }
        if (!textRecognitionEnginesKept()) {
            endIdle();
        }
    }

    /// Ends the idle engines; once none is left, the dictionaries that Tesseract keeps for the process
    /// across engines go too, and the memory goes back to the system.
    void endIdle()
    {
        std::vector<Engine> ended;
        {
            const std::lock_guard lock(mutex_);
            ended.swap(idle_);
        }
        if (ended.empty()) {
            return;
        }
        const auto count = static_cast<qsizetype>(ended.size());
        ended.clear();
        {
            const std::lock_guard lock(mutex_);
            engines_ -= count;
            if (engines_ == 0) {
                tesseract::TessBaseAPI::ClearPersistentCache();
            }
        }
        returnFreedMemoryToSystem();
    }

private:
    std::mutex mutex_;
    std::vector<Engine> idle_;
    /// Engines in being: idle, reading or being made.
    qsizetype engines_ = 0;
};

/// An engine of the pool for one read, given back when the read ends.
class BorrowedEngine {
public:
    BorrowedEngine() : engine_(EnginePool::shared().take()) {}
    ~BorrowedEngine()
    {
        engine_->Clear();
        EnginePool::shared().giveBack(std::move(engine_));
    }
    BorrowedEngine(const BorrowedEngine&) = delete;
    BorrowedEngine& operator=(const BorrowedEngine&) = delete;
    tesseract::TessBaseAPI* operator->() const { return engine_.get(); }

private:
    Engine engine_;
};

QString takeText(char* text)
{
    const std::unique_ptr<char[]> owned(text);
    return owned ? QString::fromUtf8(owned.get()).trimmed() : QString();
}

QRectF boxOf(const tesseract::ResultIterator& iterator, tesseract::PageIteratorLevel level, const BlockImage& block)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    if (!iterator.BoundingBox(level, &left, &top, &right, &bottom)) {
        return {};
    }
    return QRectF(QPointF(left, top) / block.scale + block.origin, QPointF(right, bottom) / block.scale + block.origin);
}

/// Reads `blocks` of the grey image with an engine of the pool; the lines of each block in reading order.
std::vector<RecognizedLine> readBlocks(const QImage& gray, const std::vector<TextBlock>& blocks, qreal pixelRatio)
{
    const BorrowedEngine engine;
    std::vector<RecognizedLine> lines;
    for (const TextBlock& area : blocks) {
        const BlockImage block = prepareBlock(gray, area);
        engine->SetImage(block.gray.constBits(), block.gray.width(), block.gray.height(), 1,
                         static_cast<int>(block.gray.bytesPerLine()));
        engine->SetSourceResolution(qRound(96 * pixelRatio * block.scale));
        if (engine->Recognize(nullptr) != 0) {
            continue;
        }
        const std::unique_ptr<tesseract::ResultIterator> iterator(engine->GetIterator());
        if (!iterator) {
            continue;
        }
        bool lineStarted = false;
        do {
            if (iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                lineStarted = false;
            }
            const QString word = takeText(iterator->GetUTF8Text(tesseract::RIL_WORD));
            if (word.isEmpty()) {
                continue;
            }
            if (!lineStarted) {
                lines.emplace_back().boundingBox = boxOf(*iterator, tesseract::RIL_TEXTLINE, block);
                lineStarted = true;
            }
            RecognizedLine& line = lines.back();
            line.words.push_back(RecognizedWord{word, boxOf(*iterator, tesseract::RIL_WORD, block),
                                                iterator->Confidence(tesseract::RIL_WORD)});
            line.text += line.text.isEmpty() ? word : QLatin1Char(' ') + word;
        } while (iterator->Next(tesseract::RIL_WORD));
    }
    return lines;
}

QThreadPool& readingPool()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, maximumParallelReads));
        return made;
    }();
    return *pool;
}

class TesseractTextRecognizer final : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override
    {
        if (image.isNull()) {
            throw TextRecognitionError("The image to recognise is empty");
        }
        const QImage gray = flattenedGray(image);
        const qreal pixelRatio = std::max<qreal>(1, image.devicePixelRatio());
        const int unit = std::max(1, qRound(pixelRatio));
        std::vector<QRect> leaves;
        cutIntoBlocks(Transitions(gray, structuralRun * unit), gray.rect(), columnGapWidth * unit, leaves);
        const std::vector<TextBlock> blocks = mergeIntoParagraphs(gray, leaves);

        // Contiguous groups of blocks of about equal area, one per thread, keep the reading order.
        qint64 totalArea = 0;
        for (const TextBlock& block : blocks) {
            totalArea += qint64(block.area.width()) * block.area.height();
        }
        const int groupCount = std::max(1, std::min(readingPool().maxThreadCount(), static_cast<int>(blocks.size())));
        std::vector<std::vector<TextBlock>> groups(static_cast<size_t>(groupCount));
        qint64 accumulated = 0;
        for (const TextBlock& block : blocks) {
            const qint64 group =
                std::min<qint64>(groupCount - 1, accumulated * groupCount / std::max<qint64>(1, totalArea));
            groups[static_cast<size_t>(group)].push_back(block);
            accumulated += qint64(block.area.width()) * block.area.height();
        }
        std::vector<QFuture<std::vector<RecognizedLine>>> reads;
        for (const std::vector<TextBlock>& group : groups) {
            reads.push_back(QtConcurrent::run(
                &readingPool(), [&gray, group, pixelRatio] { return readBlocks(gray, group, pixelRatio); }));
        }
        RecognizedText text;
        std::exception_ptr failure;
        for (auto& read : reads) {
            try {
                std::vector<RecognizedLine> lines = read.result();
                std::move(lines.begin(), lines.end(), std::back_inserter(text.lines));
            } catch (const QUnhandledException& unhandled) {
                failure = failure ? failure : unhandled.exception();
            } catch (...) {
                failure = failure ? failure : std::current_exception();
            }
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
        return text;
    }
};

} // namespace

std::shared_ptr<TextRecognizer> makeTesseractTextRecognizer()
{
    return std::make_shared<TesseractTextRecognizer>();
}

} // namespace lumetrove
