#include "lumetrove/platform/TextRecognitionAgreement.h"
#include "lumetrove/platform/TextRecognitionBlocks.h"
#include "lumetrove/platform/TextRecognitionEngine.h"
#include "lumetrove/platform/TextRecognitionGlyphs.h"
#include "lumetrove/platform/TextRecognitionLevels.h"
#include "lumetrove/platform/TextRecognitionLines.h"
#include "lumetrove/platform/TextRecognitionNumbers.h"
#include "lumetrove/platform/TextRecognitionPreparation.h"
#include "lumetrove/platform/TextRecognitionWords.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFuture>
#include <QRegularExpression>
#include <QThreadPool>
#include <QUnhandledException>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>
#include <vector>

namespace lumetrove {

namespace {

using namespace recognition;

// Screen text is small, often light on dark, and lies in columns (a document beside an editor beside a
// panel). The engine reads dark text on a light ground with an x-height of ten pixels or more best, so:
//  - the image is read in a margin of its edge's ground, so that a letter the edge cuts is read;
//  - the page is cut into blocks of text (recursive XY cut, TextRecognitionBlocks). What separates blocks is
//    measured in contrast transitions between neighbouring pixels, with long straight runs (window edges,
//    dividers, rules) taken out, so that window borders and coloured panels do not hold blocks together;
//    the words of a line that the cut set apart are joined back, and lines into paragraphs;
//  - every block is turned dark-on-light by the ground of its text, its small text scaled up and its huge
//    text down (TextRecognitionPreparation), so a dark editor beside a light window is read as well as the
//    window;
//  - the blocks are read in parallel, each thread with its own engine; a block whose reading is in doubt is
//    read once more as it stands, and where the two differ once more rescaled, each word read as most of
//    the readings read it; a number the engine doubts, or a small hexadecimal one, is read once more on its
//    own;
//  - the lines read are joined into the lines on screen, in reading order (TextRecognitionLines).

// The resolution the engine takes an image for when it is told none, as a file without one.
constexpr int plainResolution = 70;
constexpr int edgeMargin = 6; // 1x pixels of the edge's ground around the image while it is read

QRectF boxOf(const tesseract::ResultIterator& iterator, tesseract::PageIteratorLevel level, const BlockImage& block)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    if (!iterator.BoundingBox(level, &left, &top, &right, &bottom)) {
        return {};
    }
    return QRectF(QPointF(left, top) / block.scale + block.origin, QPointF(right, bottom) / block.scale + block.origin);
}

/// The symbols of the word at `word` in `block`, each glyph read once (`readEachGlyphOnce`, `readEachFigureOnce`), the
/// small figures 3 and 5 read by their shape (`readThreesAndFivesByTheirShape`) and the slashes of a path read as
/// such (`readSlashesOfPaths`); none where the engine gave no box of one.
std::optional<std::vector<Symbol>> symbolsOf(const tesseract::ResultIterator& word, const BlockImage& block)
{
    std::vector<Symbol> symbols;
    tesseract::ResultIterator symbol(word);
    do {
        Symbol read{takeText(symbol.GetUTF8Text(tesseract::RIL_SYMBOL))};
        if (read.text.isEmpty() ||
            !symbol.BoundingBox(tesseract::RIL_SYMBOL, &read.left, &read.top, &read.right, &read.bottom)) {
            return std::nullopt;
        }
        symbols.push_back(read);
    } while (symbol.Next(tesseract::RIL_SYMBOL) && !symbol.IsAtBeginningOf(tesseract::RIL_WORD));
    readEachGlyphOnce(symbols);
    readEachFigureOnce(symbols);
    mergeBarsOfOneFigure(symbols);
    readThreesAndFivesByTheirShape(symbols, block.gray, block.scale);
    readSlashesOfPaths(symbols, block.gray);
    return symbols;
}

/// The text of `symbols`, the word at `word` each glyph read once (`symbolsOf`), set apart where the engine ran
/// two words into one (`partsAtSpaces`).
std::vector<WordPart> wordParts(const tesseract::ResultIterator& word,
                                const std::optional<std::vector<Symbol>>& symbols)
{
    if (!symbols) {
        return {WordPart{takeText(word.GetUTF8Text(tesseract::RIL_WORD)), std::nullopt}};
    }
    return partsAtSpaces(*symbols);
}

/// A line begun at the iterator's line in `block`, the queue's block `index`: its box and baseline, no words yet.
ReadLine startedLine(const tesseract::ResultIterator& iterator, const BlockImage& block, size_t index)
{
    ReadLine started;
    started.line.boundingBox = boxOf(iterator, tesseract::RIL_TEXTLINE, block);
    started.block = index;
    int left = 0, top = 0, right = 0, bottom = 0;
    started.baseline = iterator.Baseline(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)
                           ? (top + bottom) / 2.0 / block.scale + block.origin.y()
                           : started.line.boundingBox.bottom();
    return started;
}

/// The lines the engine reads in `block`, the queue's block `index`, the image read at `resolution` dots
/// per inch, as a single line or a single block as `block` says, or with the engine's own analysis of the
/// layout where `ownLayout`; none when the reading fails.
std::vector<ReadLine> readBlock(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                                size_t index, int resolution, bool ownLayout = false)
{
    std::vector<ReadLine> lines;
    engine->SetPageSegMode(ownLayout          ? tesseract::PSM_AUTO
                           : block.singleLine ? tesseract::PSM_SINGLE_LINE
                                              : tesseract::PSM_SINGLE_BLOCK);
    engine->SetImage(block.gray.constBits(), block.gray.width(), block.gray.height(), 1,
                     static_cast<int>(block.gray.bytesPerLine()));
    engine->SetSourceResolution(resolution);
    if (engine->Recognize(&monitor) != 0) {
        return lines;
    }
    const std::unique_ptr<tesseract::ResultIterator> iterator(engine->GetIterator());
    if (!iterator) {
        return lines;
    }
    bool lineStarted = false;
    // The symbols of the line's last word, where it was read whole: the next may go on with it (`goesOnWithoutSpace`).
    std::optional<std::vector<Symbol>> last;
    do {
        if (iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
            lineStarted = false;
            last.reset();
        }
        std::optional<std::vector<Symbol>> symbols = symbolsOf(*iterator, block);
        std::vector<WordPart> parts = wordParts(*iterator, symbols);
        if (parts.size() == 1 && parts.front().text.isEmpty()) {
            continue;
        }
        if (!lineStarted) {
            lines.push_back(startedLine(*iterator, block, index));
            lineStarted = true;
        }
        RecognizedLine& line = lines.back().line;
        const QRectF box = boxOf(*iterator, tesseract::RIL_WORD, block);
        const float confidence = iterator->Confidence(tesseract::RIL_WORD);
        if (lineStarted && last && symbols && parts.size() == 1 && goesOnWithoutSpace(*last, *symbols)) {
            RecognizedWord& before = line.words.back();
            // The number whole may show what its parts did not: the 1 of a hash read as an l.
            before.text = withFiguresAmongFigures(before.text + parts.front().text);
            before.boundingBox = before.boundingBox.united(box);
            before.confidence = std::min(before.confidence, confidence);
            spellFromWords(line);
            last->insert(last->end(), symbols->begin(), symbols->end());
            continue;
        }
        last = parts.size() == 1 ? std::move(symbols) : std::nullopt;
        for (WordPart& part : parts) {
            const QString word = withFiguresAmongFigures(std::move(part.text));
            QRectF partBox = box;
            if (parts.size() > 1 && part.span) {
                partBox.setLeft(part.span->first / block.scale + block.origin.x());
                partBox.setRight(part.span->second / block.scale + block.origin.x());
            }
            line.words.push_back(RecognizedWord{word, partBox, confidence});
            line.text += line.text.isEmpty() ? word : QLatin1Char(' ') + word;
        }
    } while (iterator->Next(tesseract::RIL_WORD));
    if (lines.size() == 1) {
        lines.back().alone = true;
    }
    return lines;
}

/// Whether `lines`, read in `block`, hold no word or fewer than half of what a block of its size holds (a word of
/// five letters, half a line high each, and a space).
bool tooFewWords(const std::vector<ReadLine>& lines, const TextBlock& block)
{
    size_t words = 0;
    for (const ReadLine& line : lines) {
        words += line.line.words.size();
    }
    const double lineHeight = std::max(1, block.lineHeight);
    const double rows = std::max(1.0, std::round(block.area.height() / (1.5 * lineHeight)));
    const double wordsInARow = block.area.width() / (3.5 * lineHeight);
    return words == 0 || static_cast<double>(words) < 0.5 * std::floor(rows * wordsInARow);
}

/// Whether the reading of `block` may have lost text: it holds a word the engine doubts or one of figures and
/// letters, no word at all (a block is text the cut found; a short label may be lost in the outline of its
/// button), or fewer words than half of what a block of its size holds (a word of five letters, half a line
/// high each, and a space).
bool inDoubt(const std::vector<ReadLine>& lines, const TextBlock& block)
{
    constexpr float doubtfulConfidence = 90;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            if (word.confidence < doubtfulConfidence || mixesFiguresAndLetters(word.text)) {
                return true;
            }
        }
    }
    return tooFewWords(lines, block);
}

/// The reading `kind` of the block `area`, the queue's block `index`, from `plain`, the block nearly as it stands
/// (see `OtherReading`).
std::vector<ReadLine> readOther(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& plain,
                                const TextBlock& area, size_t index, OtherReading kind)
{
    switch (kind) {
    case OtherReading::asItStands:
        return readBlock(engine, monitor, plain, index, plainResolution);
    case OtherReading::rescaled:
        return readBlock(engine, monitor, rescaledBlock(plain, area), index, plainResolution);
    case OtherReading::ownLayout:
        return readBlock(engine, monitor, plain, index, plainResolution, true);
    }
    return {};
}

/// Makes `errand`, an other reading of a block under way, for the block's own thread (see `OtherReadings`). It
/// gives up as soon as the block's thread no longer wants it.
void readOtherForBlock(const BorrowedEngine& engine, const QImage& gray, BlockQueue& queue, const Errand& errand)
{
    struct Wanted {
        BlockQueue* queue;
        const Errand* errand;
    } wanted{&queue, &errand};
    tesseract::ETEXT_DESC monitor;
    monitor.cancel_this = &wanted;
    monitor.cancel = [](void* wanted, int) {
        const auto* asked = static_cast<Wanted*>(wanted);
        return asked->queue->otherReadingUnwanted(asked->errand->index, asked->errand->kind);
    };
    std::vector<ReadLine> lines;
    try {
        const TextBlock& area = queue.blocks[errand.index];
        if (const auto plain = plainBlock(gray, area, errand.prepared); plain && !queue.wantsToGiveUp()) {
            lines = readOther(engine, monitor, *plain, area, errand.index, errand.kind);
        }
    } catch (...) {
        queue.keepOtherReading(errand.index, errand.kind, {}); // the block's thread may be waiting for it
        throw;
    }
    queue.keepOtherReading(errand.index, errand.kind, std::move(lines));
}

/// Rereads the doubtful numbers of `lines`, read in `block` (see `rereadDoubtfulNumbers`), each line on its own:
/// threads with no block left reread some of the lines.
void rereadDoubtfulNumbersOfLines(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                                  int resolution, BlockQueue& queue, std::vector<ReadLine>& lines)
{
    SharedWork work;
    work.parts = lines.size();
    work.part = [&](size_t part, const BorrowedEngine& reader, tesseract::ETEXT_DESC& watch) {
        std::vector<ReadLine> line;
        line.push_back(std::move(lines[part]));
        rereadDoubtfulNumbers(reader, watch, block, resolution, queue, line);
        lines[part] = std::move(line.front());
    };
    queue.share(work, engine, monitor);
}

/// Reads the block `index` of `queue` (see `readBlocks`).
void readOneBlock(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const QImage& gray, BlockQueue& queue,
                  size_t index, qreal pixelRatio)
{
    // Whatever ends the block's reading, the threads waiting for it to be prepared go on.
    struct Finish {
        BlockQueue& queue;
        size_t index;
        ~Finish()
        {
            queue.finished(index);
            queue.over(index);
        }
    } finish{queue, index};
    const int unit = std::max(1, qRound(pixelRatio));
    const auto isWord = [&engine](const QString& word) { return engine->IsValidWord(word.toUtf8().constData()) != 0; };
    const TextBlock& area = queue.blocks[index];
    const std::optional<BlockImage> block = prepareBlock(gray, area, unit, queue.shown);
    queue.prepared(index, block);
    if (!block) {
        return;
    }
    const int resolution = qRound(96 * pixelRatio * block->scale);
    std::vector<ReadLine> lines = readBlock(engine, monitor, *block, index, resolution);
    if (block->aliased || inDoubt(lines, area)) {
        if (const auto plain = plainBlock(gray, area, *block); plain && !queue.wantsToGiveUp()) {
            const auto other = [&](OtherReading kind) {
                return queue.otherReading(index, kind,
                                          [&] { return readOther(engine, monitor, *plain, area, index, kind); });
            };
            std::vector<ReadLine> asItStands = other(OtherReading::asItStands);
            const bool disagree = wordsOf(asItStands) != wordsOf(lines);
            std::vector<std::vector<ReadLine>> readings;
            readings.push_back(std::move(lines));
            readings.push_back(std::move(asItStands));
            if (disagree && !queue.wantsToGiveUp()) {
                readings.push_back(other(OtherReading::rescaled));
            }
            lines = agreedReading(std::move(readings), isWord);
            // Where even the block as it stands reads next to nothing, the cut took what the engine lays
            // out as several lines for one (the frame of a picture of a dialog holds its lines together,
            // and the block, as high as the frame, was read as one line scaled down): the engine's own
            // analysis of the layout reads it as it would read the image alone. Its reading counts only
            // where it reads more than twice the words: elsewhere the readings before it are the surer.
            if (tooFewWords(lines, area) && !queue.wantsToGiveUp()) {
                std::vector<ReadLine> ownLayout = other(OtherReading::ownLayout);
                if (wordsOf(ownLayout).size() > 2 * wordsOf(lines).size()) {
                    std::vector<std::vector<ReadLine>> withOwnLayout;
                    withOwnLayout.push_back(std::move(lines));
                    withOwnLayout.push_back(std::move(ownLayout));
                    lines = agreedReading(std::move(withOwnLayout), isWord);
                }
            }
        }
    }
    queue.finished(index);
    rereadDoubtfulNumbersOfLines(engine, monitor, *block, resolution, queue, lines);
    queue.lines[index] = std::move(lines);
}

/// Reads blocks of `queue` with an engine of the pool until none is left, the longest first: a thread that
/// meets short blocks takes more of them, so the threads finish together. A block whose prepared reading is in doubt,
/// or whose text is drawn without smoothing (enlarged, it is misread with confidence), is read once more as it stands,
/// as the engine would read it on its own; where the two readings differ, a third, of the block as it stands rescaled,
/// settles each word they differ on (see `agreedReading`): the preparation may only add to what the engine reads. Where
/// they still read next to nothing, the block as it stands is read once more with the engine's own analysis of its
/// layout. Numbers it still doubts are read once more each on its own (see `rereadDoubtfulNumbers`). Once no block is
/// left to take, the thread makes those other readings of the blocks still read before their threads ask for them
/// (see `OtherReadings`), and rereads the doubtful numbers of their lines that their threads have not come to.
void readBlocks(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
    limitOpenMPInThisThread();
    const BorrowedEngine engine;
    tesseract::ETEXT_DESC monitor;
    monitor.cancel_this = &queue;
    monitor.cancel = [](void* queue, int) { return static_cast<BlockQueue*>(queue)->wantsToGiveUp(); };
    for (size_t taken = queue.next++; taken < queue.order.size() && !queue.wantsToGiveUp(); taken = queue.next++) {
        readOneBlock(engine, monitor, gray, queue, queue.order[taken], pixelRatio);
    }
    while (const std::optional<Errand> errand = queue.takeErrand()) {
        if (!errand->work) {
            readOtherForBlock(engine, gray, queue, *errand);
            continue;
        }
        try {
            errand->work->part(errand->part, engine, monitor);
        } catch (...) {
            queue.partDone(*errand->work); // its block's thread waits for it
            throw;
        }
        queue.partDone(*errand->work);
    }
}

/// The order in which `blocks` are best read: the engine's time on a block grows with its lines
/// and their length, both counted in line heights, so with its area over the square of its line height.
std::vector<size_t> longestReadsFirst(const std::vector<TextBlock>& blocks)
{
    std::vector<double> work;
    for (const TextBlock& block : blocks) {
        const double lineHeight = std::max(1, block.lineHeight);
        work.push_back(double(block.area.width()) * double(block.area.height()) / (lineHeight * lineHeight));
    }
    std::vector<size_t> order(blocks.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&work](size_t a, size_t b) { return work[a] > work[b]; });
    return order;
}

/// Reads the blocks of `queue` on the threads of the reading pool; rethrows the first failure of a thread.
void readInParallel(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
    queue.order = longestReadsFirst(queue.blocks);
    queue.others = std::vector<OtherReadings>(queue.blocks.size());
    // A block alone may keep a thread of its own for each of its readings.
    const int threads = std::max(1, std::min(readingThreads().maxThreadCount(),
                                             static_cast<int>(queue.blocks.size() * (1 + otherReadingKinds))));
    std::vector<QFuture<void>> reads;
    for (int thread = 0; thread < threads; ++thread) {
        reads.push_back(
            QtConcurrent::run(&readingThreads(), [&gray, &queue, pixelRatio] { readBlocks(gray, queue, pixelRatio); }));
    }
    std::exception_ptr failure;
    for (auto& read : reads) {
        try {
            read.waitForFinished();
        } catch (const QUnhandledException& unhandled) {
            failure = failure ? failure : unhandled.exception();
        } catch (...) {
            failure = failure ? failure : std::current_exception();
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

/// `box`, found in the image framed by a margin of `margin` pixels, in the image's own pixels.
QRectF withoutMargin(const QRectF& box, int margin, const QSize& size)
{
    return box.translated(-margin, -margin).intersected(QRectF(QPointF(0, 0), QSizeF(size)));
}

class TesseractTextRecognizer final : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override { return recognizeUnlessCancelled(image, {}); }

    RecognizedText recognizeUnlessCancelled(const QImage& image, const std::function<bool()>& cancelled) const override
    {
        if (image.isNull()) {
            throw TextRecognitionError("The image to recognise is empty");
        }
        // The steps before the reading take a tenth of a second or more on a large screen: each may give up.
        const auto giveUpIfCancelled = [&cancelled] {
            if (cancelled && cancelled()) {
                throw TextRecognitionCancelled();
            }
        };
        // Read in the image's own pixels: a ratio-2 image painted at its device-independent size would be
        // read at half size, its boxes halved. The image is read in a margin of its edge's ground, so that a
        // letter that the edge of a capture cuts is read as the letters beside it are.
        const qreal pixelRatio = std::max<qreal>(1, image.devicePixelRatio());
        const int unit = std::max(1, qRound(pixelRatio));
        const int margin = edgeMargin * unit;
        const QImage gray = withMargin(opaqueGray(image), margin);
        giveUpIfCancelled();
        const QImage colour =
            image.hasAlphaChannel() ? QImage() : withMargin(image.convertToFormat(QImage::Format_RGB32), margin);
        const std::vector<QRect> leaves = cutIntoLeaves(gray, colour, unit);
        giveUpIfCancelled();

        BlockQueue queue;
        queue.cancelled = &cancelled;
        queue.blocks = mergeIntoParagraphs(gray, leaves);
        giveUpIfCancelled();
        queue.lines.resize(queue.blocks.size());
        queue.shown = gray.rect().adjusted(margin, margin, -margin, -margin);
        readInParallel(gray, queue, pixelRatio);
        if (queue.givenUp) {
            throw TextRecognitionCancelled();
        }
        std::vector<ReadLine> lines;
        for (std::vector<ReadLine>& part : queue.lines) {
            std::move(part.begin(), part.end(), std::back_inserter(lines));
        }
        RecognizedText text;
        text.lines = assembleLines(std::move(lines));
        for (RecognizedLine& line : text.lines) {
            line.boundingBox = withoutMargin(line.boundingBox, margin, image.size());
            for (RecognizedWord& word : line.words) {
                word.boundingBox = withoutMargin(word.boundingBox, margin, image.size());
            }
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
