#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/TextRecognitionAgreement.h"
#include "lumetrove/platform/TextRecognitionBlocks.h"
#include "lumetrove/platform/TextRecognitionGlyphs.h"
#include "lumetrove/platform/TextRecognitionLevels.h"
#include "lumetrove/platform/TextRecognitionLines.h"
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
#include <omp.h>
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

constexpr int maximumParallelReads = 6;
// The resolution the engine takes an image for when it is told none, as a file without one.
constexpr int plainResolution = 70;
constexpr int edgeMargin = 6; // 1x pixels of the edge's ground around the image while it is read

struct EngineDeleter {
    void operator()(tesseract::TessBaseAPI* engine) const
    {
        engine->End();
        delete engine;
    }
};
using Engine = std::unique_ptr<tesseract::TessBaseAPI, EngineDeleter>;

/// Tesseract parallelises tiny steps with OpenMP, whose spinning workers only slow it down beside the blocks
/// read in parallel here, and far more so on a busy machine (its documentation says to limit it to one
/// thread). The limits are kept per thread, so every thread that reads sets them before its first read:
/// OMP_THREAD_LIMIT is read only when the process starts.
void limitOpenMPInThisThread()
{
    thread_local const bool limited = [] {
        omp_set_dynamic(0);
        omp_set_num_threads(1);
        omp_set_max_active_levels(0);
        return true;
    }();
    (void)limited;
}

/// Set as the process ends: the readings still under way give up (see `endReadingsAtExit`).
std::atomic<bool> processEnding{false};
void endReadingsAtExit();

Engine makeEngine()
{
    Engine made(new tesseract::TessBaseAPI);
    if (made->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
        throw TextRecognitionError("Tesseract could not load its English language data");
    }
    // Registered once the engine's library has made its shared dictionaries, so that it runs before they are
    // destroyed with the process's other globals.
    static const bool endsReadings = std::atexit(endReadingsAtExit) == 0;
    (void)endsReadings;
    // Interface text comes in short lines and single words; the block is read as one column of lines.
    made->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    made->SetVariable("debug_file", "/dev/null");
    // Every block comes dark on light: a second reading of each doubtful line inverted only costs time.
    made->SetVariable("tessedit_do_invert", "0");
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

/// Blocks to read, taken one at a time by every reading thread of one recognition, and their lines.
struct BlockQueue {
    std::vector<TextBlock> blocks;
    std::vector<std::vector<ReadLine>> lines; // per block
    QRect shown;                              // the image's own pixels, inside the margin it is read in
    /// The indices of `blocks` in the order they are taken: the longest reads first, so that no thread is
    /// still reading a long block when the others have run out of work.
    std::vector<size_t> order;
    std::atomic<size_t> next{0};
    /// The caller's wish to give up, asked before every block and, through the engine, between its words.
    const std::function<bool()>* cancelled = nullptr;
    std::atomic<bool> givenUp{false};

    bool wantsToGiveUp()
    {
        if (!givenUp && (processEnding || (cancelled && *cancelled && (*cancelled)()))) {
            givenUp = true;
        }
        return givenUp;
    }
};

/// The symbols of the word at `word` in `gray`, each glyph read once (`readEachGlyphOnce`, `readEachFigureOnce`) and
/// the slash that begins a path read as one (`readSlashesThatBeginPaths`); none where the engine gave no box of one.
std::optional<std::vector<Symbol>> symbolsOf(const tesseract::ResultIterator& word, const QImage& gray)
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
    readSlashesThatBeginPaths(symbols, gray);
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
        std::optional<std::vector<Symbol>> symbols = symbolsOf(*iterator, block.gray);
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

/// The engine's reading of the word in `box` of `block` (the image's pixels) on its own: the word's part of
/// the block, in a narrow margin that keeps the next word out, enlarged `enlargement` times and read as a
/// single word, of the glyphs `characters` only where it names some. `resolution` is the block's.
std::optional<QString> wordReadAlone(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                     const BlockImage& block, const QRectF& box, int resolution, double enlargement,
                                     const char* characters = "")
{
    constexpr int padding = 10; // white margin around the word, enlarged pixels
    const QRectF inBlock((box.topLeft() - block.origin) * block.scale,
                         (box.bottomRight() - block.origin) * block.scale);
    const double height = inBlock.height();
    const QRect area = inBlock.adjusted(-0.15 * height, -0.3 * height, 0.15 * height, 0.3 * height)
                           .toAlignedRect()
                           .intersected(block.gray.rect());
    if (area.isEmpty()) {
        return std::nullopt;
    }
    const QImage crop =
        block.gray.copy(area).scaled(area.size() * enlargement, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage framed(crop.size() + QSize(2 * padding, 2 * padding), QImage::Format_Grayscale8);
    framed.fill(255);
    for (int y = 0; y < crop.height(); ++y) {
        std::copy_n(crop.constScanLine(y), crop.width(), framed.scanLine(y + padding) + padding);
    }
    engine->SetPageSegMode(tesseract::PSM_SINGLE_WORD);
    engine->SetImage(framed.constBits(), framed.width(), framed.height(), 1, static_cast<int>(framed.bytesPerLine()));
    engine->SetSourceResolution(qRound(resolution * enlargement));
    engine->SetVariable("tessedit_char_whitelist", characters);
    const bool recognized = engine->Recognize(&monitor) == 0;
    engine->SetVariable("tessedit_char_whitelist", ""); // the engine keeps it for every later read
    if (!recognized) {
        return std::nullopt;
    }
    const std::unique_ptr<tesseract::ResultIterator> iterator(engine->GetIterator());
    if (!iterator) {
        return std::nullopt;
    }
    QString read;
    do {
        if (const QString text = takeText(iterator->GetUTF8Text(tesseract::RIL_WORD)); !text.isEmpty()) {
            read += read.isEmpty() ? text : QLatin1Char(' ') + text;
        }
    } while (iterator->Next(tesseract::RIL_WORD));
    return read;
}

/// The engine's reading of the number in `box` on its own (see `wordReadAlone`), without the "v" of a version.
/// Nothing unless it reads a number of as many figures as `number`, one word.
std::optional<QString> numberReadAlone(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                       const BlockImage& block, const QRectF& box, int resolution, double enlargement,
                                       const QString& number)
{
    const std::optional<QString> alone = wordReadAlone(engine, monitor, block, box, resolution, enlargement);
    if (!alone) {
        return std::nullopt;
    }
    const QString read = alone->mid(afterVersionMark(*alone));
    const QString figures = figuresOf(read);
    if (!onlyFigures(read) || figures.contains(QLatin1Char(' ')) ||
        std::count_if(figures.begin(), figures.end(), [](QChar c) { return c.isDigit(); }) !=
            std::count_if(number.begin(), number.end(), [](QChar c) { return c.isDigit(); })) {
        return std::nullopt;
    }
    return read;
}

/// The figures of the number in `box`, `number` as the line reads it, where two of its readings alone (see
/// `numberReadAlone`) agree on others than the line's: the reading enlarged one and a half times and the one enlarged
/// twice, or where those two differ, the one enlarged three times. Each enlargement misreads other glyphs ("134.51"
/// for "134.31" in the line and enlarged twice, as drawn enlarged one and a half and three times). The reading
/// enlarged least takes part in every agreement: the two enlarged more agree on a figure that the glyph does not show
/// ("50" for the "30" of a column of figures). Nothing where no two agree so.
std::optional<QString> figuresAgreedAlone(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                          const BlockImage& block, const QRectF& box, int resolution,
                                          const QString& number)
{
    const auto figuresAlone = [&](double enlargement) -> std::optional<QString> {
        const std::optional<QString> read =
            numberReadAlone(engine, monitor, block, box, resolution, enlargement, number);
        return read ? std::optional<QString>(figuresOf(*read)) : std::nullopt;
    };
    // The reading enlarged least is read first: where it reads the line's figures, no agreement can change them.
    const std::optional<QString> once = figuresAlone(1.5);
    if (!once || *once == figuresOf(number)) {
        return std::nullopt;
    }
    return figuresAlone(2) == once || figuresAlone(3) == once ? once : std::nullopt;
}

/// The digits of the hexadecimal number in `box` read on its own, of hexadecimal glyphs only (see
/// `wordReadAlone`), in the case of `digits`, the number's digits as the line reads them. Nothing unless it
/// reads a hexadecimal number of as many digits.
std::optional<QString> hexadecimalReadAlone(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                            const BlockImage& block, const QRectF& box, int resolution,
                                            double enlargement, const QString& digits)
{
    const std::optional<QString> read =
        wordReadAlone(engine, monitor, block, box, resolution, enlargement, "0123456789abcdefABCDEFx#");
    if (!read) {
        return std::nullopt;
    }
    // The glyphs of small and capital c, e and f differ in size only; a number is written in one case.
    const bool small = std::any_of(digits.begin(), digits.end(), [](QChar c) { return c.isLower(); });
    const bool capitals = std::any_of(digits.begin(), digits.end(), [](QChar c) { return c.isUpper(); });
    QString number = *read;
    if (number.startsWith(QLatin1Char('#'))) {
        number.remove(0, 1);
    } else if (number.startsWith(QLatin1String("0x"))) {
        number.remove(0, 2);
    }
    number = small && !capitals ? number.toLower() : capitals && !small ? number.toUpper() : number;
    if (number.size() != digits.size() || !std::all_of(number.begin(), number.end(), [](QChar c) {
            return QStringView(u"0123456789abcdefABCDEF").contains(c);
        })) {
        return std::nullopt;
    }
    // Alone, the engine takes a figure for another that the line's context made it misread; a letter it read
    // in the line, or a figure where it now reads a letter, it read no worse than alone.
    for (qsizetype i = 0; i < number.size(); ++i) {
        if (!number[i].isDigit() || !digits[i].isDigit()) {
            number[i] = digits[i];
        }
    }
    return number;
}

/// The hexadecimal number that the word `text` in `box` is where the line read some of its glyphs as other letters
/// ("93aT78bTf", "F09CB9D" for "93af78bf" and "#69CB9D"): a word of letters and three figures or more, apart from
/// each other among its letters, in which two thirds of the glyphs are hexadecimal ones, read alone of hexadecimal
/// glyphs only (see `wordReadAlone`) enlarged one and a half and two times, where both readings read the same
/// hexadecimal number (see `hexadecimalDigits`). Nothing elsewhere.
std::optional<QString> hexadecimalAmongLetters(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                               const BlockImage& block, const QRectF& box, int resolution,
                                               const QString& text)
{
    const auto count = [&text](auto which) { return std::count_if(text.begin(), text.end(), which); };
    const auto figures = count([](QChar c) { return c.isDigit(); });
    const auto others = count([](QChar c) { return !QStringView(u"0123456789abcdefABCDEF#").contains(c); });
    qsizetype runs = 0; // of figures: a word with a number after it ("Office365") holds one
    for (qsizetype i = 0; i < text.size(); ++i) {
        runs += text[i].isDigit() && (i == 0 || !text[i - 1].isDigit());
    }
    const bool glyphsOnly = std::all_of(text.begin() + (text.startsWith(QLatin1Char('#')) ? 1 : 0), text.end(),
                                        [](QChar c) { return c.isLetterOrNumber(); });
    if (!glyphsOnly || figures < 3 || runs < 2 || text.size() < 6 || 3 * others > text.size() ||
        hexadecimalDigits(text)) {
        return std::nullopt;
    }
    const char* glyphs = "0123456789abcdefABCDEFx#";
    const std::optional<QString> twice = wordReadAlone(engine, monitor, block, box, resolution, 2, glyphs);
    if (!twice || !hexadecimalDigits(*twice) || twice->size() < text.size() - 1 || twice->size() > text.size()) {
        return std::nullopt;
    }
    const std::optional<QString> once = wordReadAlone(engine, monitor, block, box, resolution, 1.5, glyphs);
    return once == twice ? twice : std::nullopt;
}

/// Rereads the small numbers of `lines` that the engine doubts, each on its own (see `numberReadAlone`): in a
/// line of small figures the engine weighs each glyph against its neighbours and reads the dotted zero of a
/// monospaced font as a 6 or an 8, a 0 beside a 6 as a 6; the number alone and larger it mostly reads as drawn.
/// A reading alone is kept where two of them, enlarged by different factors, agree on figures other than the
/// line's; their errors fall on different glyphs. Only the figures change: the narrow margin of a word read
/// alone shows the edges of its neighbours, which the engine reads as a bracket or a quote mark. Words holding
/// a letter keep their reading ("16GB", "l0gin"): read alone, they lose as many letters as they gain; but the "v"
/// of a version stands outside its number, whose dotted zeros are misread as any other's ("v1.16.72").
/// Small hexadecimal numbers are read alone whatever the engine's confidence, of hexadecimal glyphs only (see
/// `hexadecimalReadAlone`): in them it takes one figure for another, a dotted 0 for a 6, a 3 for a 5, and is
/// sure of it. Where the two readings alone disagree, a third, enlarged three times, settles it.
void rereadDoubtfulNumbers(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                           int resolution, BlockQueue& queue, std::vector<ReadLine>& lines)
{
    constexpr float doubtfulConfidence = 95;
    // Pixels high: the engine reads larger figures as drawn, those of small text at ratio 2 too.
    constexpr int smallFigures = 12;
    for (ReadLine& line : lines) {
        bool changed = false;
        for (RecognizedWord& word : line.line.words) {
            if (word.boundingBox.height() > smallFigures || queue.wantsToGiveUp()) {
                continue;
            }
            if (const auto hexadecimal = hexadecimalDigits(word.text)) {
                const auto [first, length] = *hexadecimal;
                const QString digits = word.text.mid(first, length);
                const std::optional<QString> twice =
                    hexadecimalReadAlone(engine, monitor, block, word.boundingBox, resolution, 2, digits);
                if (!twice || *twice == digits) {
                    continue;
                }
                const std::optional<QString> once =
                    hexadecimalReadAlone(engine, monitor, block, word.boundingBox, resolution, 1.5, digits);
                std::optional<QString> agreed = once == twice ? twice : std::nullopt;
                if (!agreed) {
                    const std::optional<QString> thrice =
                        hexadecimalReadAlone(engine, monitor, block, word.boundingBox, resolution, 3, digits);
                    agreed = thrice == twice ? twice : thrice == once && once != digits ? once : std::nullopt;
                }
                if (agreed) {
                    word.text.replace(first, length, *agreed);
                    changed = true;
                }
                continue;
            }
            if (mixesFiguresAndLetters(word.text) && word.confidence < doubtfulConfidence) {
                if (const auto hexadecimal =
                        hexadecimalAmongLetters(engine, monitor, block, word.boundingBox, resolution, word.text)) {
                    word.text = *hexadecimal;
                    changed = true;
                    continue;
                }
            }
            const qsizetype mark = afterVersionMark(word.text);
            const QString number = word.text.mid(mark);
            if (word.confidence >= doubtfulConfidence || !onlyFigures(number)) {
                continue;
            }
            const std::optional<QString> agreed =
                figuresAgreedAlone(engine, monitor, block, word.boundingBox, resolution, number);
            if (!agreed) {
                continue;
            }
            const auto [first, length] = figureSpan(number);
            // Read alone, the number may show a glyph the line lost, as the engine reads it ("2848¢964").
            word.text = withFiguresAmongFigures(word.text.replace(mark + first, length, *agreed));
            changed = true;
        }
        if (changed) {
            spellFromWords(line.line);
        }
    }
}

/// Reads blocks of `queue` with an engine of the pool until none is left, the longest first: a thread that
/// meets short blocks takes more of them, so the threads finish together. A block whose prepared reading is in doubt,
/// or whose text is drawn without smoothing (enlarged, it is misread with confidence), is read once more as it stands,
/// as the engine would read it on its own; where the two readings differ, a third, of the block as it stands rescaled,
/// settles each word they differ on (see `agreedReading`): the preparation may only add to what the engine reads. Where
/// they still read next to nothing, the block as it stands is read once more with the engine's own analysis of its
/// layout. Numbers it still doubts are read once more each on its own (see `rereadDoubtfulNumbers`).
void readBlocks(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
    limitOpenMPInThisThread();
    const BorrowedEngine engine;
    tesseract::ETEXT_DESC monitor;
    monitor.cancel_this = &queue;
    monitor.cancel = [](void* queue, int) { return static_cast<BlockQueue*>(queue)->wantsToGiveUp(); };
    const int unit = std::max(1, qRound(pixelRatio));
    const auto isWord = [&engine](const QString& word) { return engine->IsValidWord(word.toUtf8().constData()) != 0; };
    for (size_t taken = queue.next++; taken < queue.order.size() && !queue.wantsToGiveUp(); taken = queue.next++) {
        const size_t index = queue.order[taken];
        const TextBlock& area = queue.blocks[index];
        const std::optional<BlockImage> block = prepareBlock(gray, area, unit, queue.shown);
        if (!block) {
            continue;
        }
        const int resolution = qRound(96 * pixelRatio * block->scale);
        std::vector<ReadLine> lines = readBlock(engine, monitor, *block, index, resolution);
        if (block->aliased || inDoubt(lines, area)) {
            if (const auto plain = plainBlock(gray, area, *block); plain && !queue.wantsToGiveUp()) {
                std::vector<ReadLine> asItStands = readBlock(engine, monitor, *plain, index, plainResolution);
                const bool disagree = wordsOf(asItStands) != wordsOf(lines);
                std::vector<std::vector<ReadLine>> readings;
                readings.push_back(std::move(lines));
                readings.push_back(std::move(asItStands));
                if (disagree && !queue.wantsToGiveUp()) {
                    readings.push_back(readBlock(engine, monitor, rescaledBlock(*plain, area), index, plainResolution));
                }
                lines = agreedReading(std::move(readings), isWord);
                // Where even the block as it stands reads next to nothing, the cut took what the engine lays
                // out as several lines for one (the frame of a picture of a dialog holds its lines together,
                // and the block, as high as the frame, was read as one line scaled down): the engine's own
                // analysis of the layout reads it as it would read the image alone. Its reading counts only
                // where it reads more than twice the words: elsewhere the readings before it are the surer.
                if (tooFewWords(lines, area) && !queue.wantsToGiveUp()) {
                    std::vector<ReadLine> ownLayout = readBlock(engine, monitor, *plain, index, plainResolution, true);
                    if (wordsOf(ownLayout).size() > 2 * wordsOf(lines).size()) {
                        std::vector<std::vector<ReadLine>> withOwnLayout;
                        withOwnLayout.push_back(std::move(lines));
                        withOwnLayout.push_back(std::move(ownLayout));
                        lines = agreedReading(std::move(withOwnLayout), isWord);
                    }
                }
            }
        }
        rereadDoubtfulNumbers(engine, monitor, *block, resolution, queue, lines);
        queue.lines[index] = std::move(lines);
    }
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

/// As the process ends while readings are under way on other threads: they give up and are waited for, as the
/// engine's shared dictionaries, globals of its library, are destroyed right after.
void endReadingsAtExit()
{
    processEnding = true;
    readingPool().waitForDone();
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
    const int threads = std::max(1, std::min(readingPool().maxThreadCount(), static_cast<int>(queue.blocks.size())));
    std::vector<QFuture<void>> reads;
    for (int thread = 0; thread < threads; ++thread) {
        reads.push_back(
            QtConcurrent::run(&readingPool(), [&gray, &queue, pixelRatio] { readBlocks(gray, queue, pixelRatio); }));
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
