#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/TextRecognitionBlocks.h"
#include "lumetrove/platform/TextRecognitionLevels.h"
#include "lumetrove/platform/TextRecognitionLines.h"
#include "lumetrove/platform/TextRecognitionPreparation.h"
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
//    the readings read it;
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

Engine makeEngine()
{
    Engine made(new tesseract::TessBaseAPI);
    if (made->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
        throw TextRecognitionError("Tesseract could not load its English language data");
    }
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
    std::atomic<size_t> next{0};
    /// The caller's wish to give up, asked before every block and, through the engine, between its words.
    const std::function<bool()>* cancelled = nullptr;
    std::atomic<bool> givenUp{false};

    bool wantsToGiveUp()
    {
        if (!givenUp && cancelled && *cancelled && (*cancelled)()) {
            givenUp = true;
        }
        return givenUp;
    }
};

/// `word` with the letter O read for the figure 0 where it stands among figures: in a hexadecimal number
/// ("0x6DA3", "#57AB0A") or a number ("2O24"). Screen fonts draw a narrow zero that the engine, weighing
/// letters as they come in words, often takes for an O; words of letters keep theirs. For the same reason a 1
/// among the letters of a hexadecimal number (a hash, a colour, an address) is read as the letter l or I,
/// which no such number holds: where a word is made of hexadecimal digits, two figures at least and either a
/// third of them figures or figures apart from each other among the letters, and of l or I, these are its
/// ones; so are those of a hash of eight small letters and figures or more, one figure at least ("a1aebaf7"
/// read "alaebaf7"). Words of letters with a number after them ("label12") hold fewer figures, in one run at
/// their end, and a short word a measure ("20lb"): a number without "#" or "0x" before it is six digits long
/// or more, and a word of eight letters a-f and l holds a double l ("called12", "labelled"). A 6 and a 5 are read as G
/// and S, which no hexadecimal number holds either, where the capital stands among small letters and figures
/// ("Gb288abe"), after "0x" ("OxAGE3") or in a colour of capitals beside a figure ("#BO5GED"); elsewhere a word of
/// capitals may be a tag ("#ACCESS", "#BASE64").
QString withFiguresAmongFigures(QString word)
{
    // Never destroyed, as the engines are not: a recognition may still be reading while the program ends.
    static const auto* number = new QRegularExpression(
        QStringLiteral("^[#$(\\[]?(?:[0Oo][xX][0-9A-Fa-fOo]+|(?=[0-9A-Fa-fOo]*[0-9])[0-9A-Fa-fOo]+)[.,:;)\\]]?$"));
    static const auto* hexadecimal =
        new QRegularExpression(QStringLiteral("^(#|[0Oo6G@][xX])?([0-9A-Fa-fOolIGS]{4,})$"));
    if (const QRegularExpressionMatch match = hexadecimal->match(word); match.hasMatch()) {
        QString prefix = match.captured(1);
        const QString digits = match.captured(2);
        const auto count = [&digits](auto which) { return std::count_if(digits.begin(), digits.end(), which); };
        const auto figures = count([](QChar c) { return c.isDigit(); });
        const auto capitalFigures = count([](QChar c) { return QStringView(u"OSGI").contains(c); });
        const bool small = count([](QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('f'); }) > 0;
        const bool capitals = count([](QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('F'); }) > 0;
        qsizetype runs = 0; // of figures
        for (qsizetype i = 0; i < digits.size(); ++i) {
            runs += digits[i].isDigit() && (i == 0 || !digits[i - 1].isDigit());
        }
        const bool longEnough = !prefix.isEmpty() || digits.size() >= 6;
        const bool hash = prefix.isEmpty() && digits.size() >= 8 && figures >= 1 &&
                          std::none_of(digits.begin(), digits.end(), [](QChar c) { return c.isUpper(); }) &&
                          !digits.contains(QStringLiteral("ll"));
        const bool amongFigures = (figures >= 2 && (3 * figures >= digits.size() || runs >= 2) && longEnough) || hash;
        // The dotted or slashed zero of a monospaced font reads as a 6, a G or an @ before the x of "0x".
        if (prefix.size() == 2 && QStringView(u"6G@").contains(prefix[0]) && capitals && !small) {
            prefix[0] = QLatin1Char('0');
            word[0] = QLatin1Char('0');
        }
        const bool afterHexPrefix =
            prefix.size() == 2 && (prefix[0] == QLatin1Char('0') || prefix[1] == QLatin1Char('x'));
        const bool colour = prefix == QLatin1String("#") && (digits.size() == 6 || digits.size() == 8) && !small;
        // A capital among small letters and figures is one figure-high glyph that the engine read as a letter.
        const bool capitalsAmongSmall =
            small && !capitals && figures >= 1 && capitalFigures >= 1 && figures + capitalFigures >= 2 && longEnough;
        const bool shapes = capitalsAmongSmall || (afterHexPrefix && !small);
        for (qsizetype i = 0; i < word.size(); ++i) {
            QChar& c = word[i];
            const bool besideFigure =
                (i > 0 && word[i - 1].isDigit()) || (i + 1 < word.size() && word[i + 1].isDigit());
            if ((amongFigures || capitalsAmongSmall) && (c == QLatin1Char('l') || c == QLatin1Char('I'))) {
                c = QLatin1Char('1');
            } else if ((shapes || (colour && besideFigure)) && (c == QLatin1Char('G') || c == QLatin1Char('S'))) {
                c = c == QLatin1Char('G') ? QLatin1Char('6') : QLatin1Char('5');
            } else if (capitalsAmongSmall && c == QLatin1Char('O') && i >= prefix.size()) {
                c = QLatin1Char('0');
            }
        }
    }
    if (!word.contains(QLatin1Char('O')) && !word.contains(QLatin1Char('o'))) {
        return word;
    }
    if (!number->match(word).hasMatch()) {
        return word;
    }
    for (QChar& c : word) {
        if (c == QLatin1Char('O') || c == QLatin1Char('o')) {
            c = QLatin1Char('0');
        }
    }
    return word;
}

/// A word as the engine read it, or one of the words it ran together: its text, and the span of its symbols
/// across the block's pixels (none where the engine gave no boxes of its symbols).
struct WordPart {
    QString text;
    std::optional<std::pair<int, int>> span;
};

/// A symbol of a word as the engine read it, with its box.
struct Symbol {
    QString text;
    int left = 0, top = 0, right = 0, bottom = 0;
};

/// `symbols` with the figure 1 of a hexadecimal number read once where the engine read it as two unlike bars
/// side by side, a 1 and an l ("bec4fc119" for "bec4fc19"): in a monospaced font the boxes of a 1 and of its
/// foot. The two bars of one glyph span less than half as much again as the number's other glyphs do; two
/// glyphs, a whole advance and more. Words of letters keep their bars ("Illustrator", "will").
void mergeBarsOfOneFigure(std::vector<Symbol>& symbols)
{
    const auto bar = [](const QString& text) {
        return text == QLatin1String("1") || text == QLatin1String("l") || text == QLatin1String("I");
    };
    std::vector<int> widths;
    int figures = 0;
    for (const Symbol& read : symbols) {
        if (read.text.size() != 1 || !(read.text.front().isDigit() || bar(read.text) ||
                                       QStringView(u"abcdefABCDEF").contains(read.text.front()))) {
            return;
        }
        figures += read.text.front().isDigit();
        if (!bar(read.text)) {
            widths.push_back(read.right - read.left);
        }
    }
    if (figures < 2 || widths.size() < 3) {
        return;
    }
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    const int glyph = widths[widths.size() / 2];
    for (size_t i = 1; i < symbols.size();) {
        Symbol& before = symbols[i - 1];
        const Symbol& read = symbols[i];
        if (bar(before.text) && bar(read.text) && before.text != read.text && read.left < before.right &&
            2 * (std::max(before.right, read.right) - before.left) < 3 * glyph) {
            before.text = QStringLiteral("1");
            before.right = std::max(before.right, read.right);
            before.top = std::min(before.top, read.top);
            before.bottom = std::max(before.bottom, read.bottom);
            symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

/// The text of the word at `word`, each glyph read once, and set apart where the engine ran two words into one.
///  - Now and then the engine reads one glyph twice, as both of the shapes it weighs for it ("eO0ee2210" for
///    "e0ee2210", "#1ES5E0B" for "#1E5E0B"): a letter and a figure of like shape (O and 0, S and 5, G and 6)
///    whose boxes lie mostly over each other. The wider, which spans the glyph, is kept. The engine's boxes of
///    small glyphs are rough: two like symbols are two glyphs ("2004"), and so are two unlike bars
///    ("Illustrator", "v11" read "v1l").
///  - Where a letter meets a figure across a blank as wide as a space, the engine has dropped the space
///    between two words ("6:45AM" for "6:45 AM", "Apr5," for "Apr 5,"): a figure stands a tenth of its height
///    or so from a letter of its own word ("16GB", "v12"), a space is some two fifths of it, and twice as wide
///    as any other blank of the word.
std::vector<WordPart> wordParts(const tesseract::ResultIterator& word)
{
    const auto alike = [](const QString& a, const QString& b) {
        const auto shape = [](const QString& symbol) -> int {
            if (symbol == QLatin1String("O") || symbol == QLatin1String("0") || symbol == QLatin1String("o")) {
                return 1;
            }
            if (symbol == QLatin1String("S") || symbol == QLatin1String("5")) {
                return 2;
            }
            return symbol == QLatin1String("G") || symbol == QLatin1String("6") ? 3 : 0;
        };
        return a != b && shape(a) != 0 && shape(a) == shape(b);
    };
    std::vector<Symbol> symbols;
    tesseract::ResultIterator symbol(word);
    do {
        Symbol read{takeText(symbol.GetUTF8Text(tesseract::RIL_SYMBOL))};
        if (read.text.isEmpty() ||
            !symbol.BoundingBox(tesseract::RIL_SYMBOL, &read.left, &read.top, &read.right, &read.bottom)) {
            return {WordPart{takeText(word.GetUTF8Text(tesseract::RIL_WORD)), std::nullopt}};
        }
        if (!symbols.empty() && alike(symbols.back().text, read.text)) {
            Symbol& before = symbols.back();
            const int common = std::min(before.right, read.right) - std::max(before.left, read.left);
            const int narrower = std::min(before.right - before.left, read.right - read.left);
            if (narrower > 0 && 10 * common >= 6 * narrower) {
                if (read.right - read.left > before.right - before.left) {
                    before = read;
                }
                continue;
            }
        }
        symbols.push_back(read);
    } while (symbol.Next(tesseract::RIL_SYMBOL) && !symbol.IsAtBeginningOf(tesseract::RIL_WORD));
    mergeBarsOfOneFigure(symbols);
    const auto figure = [](const Symbol& read) { return read.text.size() == 1 && read.text.front().isDigit(); };
    const auto letter = [](const Symbol& read) { return read.text.size() == 1 && read.text.front().isLetter(); };
    // The blank before each symbol; a space stands out from those between the letters and figures of its word,
    // which in a monospaced font are wide too, around its narrow glyphs ("c1"). Points and colons stand apart
    // in any font.
    std::vector<int> blanks(symbols.size(), 0);
    for (size_t i = 1; i < symbols.size(); ++i) {
        blanks[i] = symbols[i].left - symbols[i - 1].right;
    }
    std::vector<WordPart> parts;
    for (size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& read = symbols[i];
        if (i > 0) {
            const Symbol& before = symbols[i - 1];
            const Symbol* number = figure(before) && letter(read)   ? &before
                                   : letter(before) && figure(read) ? &read
                                                                    : nullptr;
            int widestOther = 1;
            for (size_t j = 1; j < symbols.size(); ++j) {
                const bool between =
                    (figure(symbols[j - 1]) || letter(symbols[j - 1])) && (figure(symbols[j]) || letter(symbols[j]));
                widestOther = j == i || !between ? widestOther : std::max(widestOther, blanks[j]);
            }
            if (number && 10 * blanks[i] >= 3 * (number->bottom - number->top) && blanks[i] >= 2 * widestOther) {
                parts.push_back({});
            }
        }
        if (parts.empty()) {
            parts.push_back({});
        }
        WordPart& part = parts.back();
        part.text += read.text;
        part.span = part.span ? std::pair{part.span->first, read.right} : std::pair{read.left, read.right};
    }
    return parts;
}

/// The lines the engine reads in `block`, the queue's block `index`, the image read at `resolution` dots
/// per inch; none when the reading fails.
std::vector<ReadLine> readBlock(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                                size_t index, int resolution)
{
    std::vector<ReadLine> lines;
    engine->SetPageSegMode(block.singleLine ? tesseract::PSM_SINGLE_LINE : tesseract::PSM_SINGLE_BLOCK);
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
    do {
        if (iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
            lineStarted = false;
        }
        std::vector<WordPart> parts = wordParts(*iterator);
        if (parts.size() == 1 && parts.front().text.isEmpty()) {
            continue;
        }
        if (!lineStarted) {
            ReadLine& started = lines.emplace_back();
            started.line.boundingBox = boxOf(*iterator, tesseract::RIL_TEXTLINE, block);
            started.block = index;
            int left = 0, top = 0, right = 0, bottom = 0;
            started.baseline = iterator->Baseline(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)
                                   ? (top + bottom) / 2.0 / block.scale + block.origin.y()
                                   : started.line.boundingBox.bottom();
            lineStarted = true;
        }
        RecognizedLine& line = lines.back().line;
        const QRectF box = boxOf(*iterator, tesseract::RIL_WORD, block);
        const float confidence = iterator->Confidence(tesseract::RIL_WORD);
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

/// What a reading is worth: the letters and figures of its words, each counted by the word's confidence.
/// Symbols read in a blot of ink come with a low confidence and count for little.
double worthOf(const std::vector<ReadLine>& lines)
{
    double worth = 0;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            const auto letters =
                std::count_if(word.text.begin(), word.text.end(), [](QChar c) { return c.isLetterOrNumber(); });
            worth += static_cast<double>(letters) * word.confidence / 100;
        }
    }
    return worth;
}

/// Whether `word` holds both figures and letters: where the engine takes one for the other ("1s" for "is"),
/// though it is sure of its reading.
bool mixesFiguresAndLetters(const QString& word)
{
    const bool figures = std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
    return figures && std::any_of(word.begin(), word.end(), [](QChar c) { return c.isLetter(); });
}

/// Whether the reading of `block` may have lost text: it holds a word the engine doubts or one of figures and
/// letters, or fewer words than half of what a block of its size holds (a word of five letters, half a line
/// high each, and a space).
bool inDoubt(const std::vector<ReadLine>& lines, const TextBlock& block)
{
    constexpr float doubtfulConfidence = 90;
    size_t words = 0;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            if (word.confidence < doubtfulConfidence || mixesFiguresAndLetters(word.text)) {
                return true;
            }
            ++words;
        }
    }
    const double lineHeight = std::max(1, block.lineHeight);
    const double rows = std::max(1.0, std::round(block.area.height() / (1.5 * lineHeight)));
    const double wordsInARow = block.area.width() / (3.5 * lineHeight);
    return static_cast<double>(words) < 0.5 * std::floor(rows * wordsInARow);
}

/// How another reading reads the place of one word: its words there (one, or several where it sets apart what
/// the word holds, "event. txt" for "event.txt"), joined by spaces; compared without them.
struct WordReading {
    QString text;
    float confidence = 0;
    QString key() const { return QString(text).remove(QLatin1Char(' ')); }
};

/// How `reading` reads the place of `word`: the words lying mostly in its box, when together they span about
/// the box, neither much less (part of the word) nor much more (the word run together with the next).
std::optional<WordReading> readingOfPlace(const RecognizedWord& word, const std::vector<ReadLine>& reading)
{
    const QRectF& box = word.boundingBox;
    WordReading read;
    QRectF span;
    for (const ReadLine& line : reading) {
        for (const RecognizedWord& other : line.line.words) {
            const QRectF common = box.intersected(other.boundingBox);
            if (common.width() * common.height() < 0.5 * other.boundingBox.width() * other.boundingBox.height()) {
                continue;
            }
            read.confidence = span.isNull() ? other.confidence : std::min(read.confidence, other.confidence);
            read.text += read.text.isEmpty() ? other.text : QLatin1Char(' ') + other.text;
            span = span.isNull() ? other.boundingBox : span.united(other.boundingBox);
        }
    }
    if (span.isNull() || span.width() > 1.3 * box.width() || box.width() > 1.3 * span.width()) {
        return std::nullopt;
    }
    return read;
}

/// The words of `lines` in their order.
QStringList wordsOf(const std::vector<ReadLine>& lines)
{
    QStringList words;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            words.append(word.text);
        }
    }
    return words;
}

/// Whether `text` sets a figure and a letter apart by a space ("11:27 AM", "Jul 5,").
bool figureMeetsLetterAcrossASpace(const QString& text)
{
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        const QChar before = text[i - 1], after = text[i + 1];
        if (text[i] == QLatin1Char(' ') &&
            ((before.isDigit() && after.isLetter()) || (before.isLetter() && after.isDigit()))) {
            return true;
        }
    }
    return false;
}

/// The reading of one block that its readings agree on: the one worth most (see `worthOf`), each of its words
/// read as most readings read the same word, or, where no two agree, as the reading surest of it reads it.
/// The preparation makes most words clearer, but may join two letters ("rn" read as "m") that the block as it
/// stands keeps apart; the engine's confidence alone does not tell which reading is right ("A2" for "42" at
/// 79 beside "42" at 77), most readings alike mostly do.
std::vector<ReadLine> agreedReading(std::vector<std::vector<ReadLine>> readings)
{
    const auto best = std::max_element(readings.begin(), readings.end(),
                                       [](const auto& a, const auto& b) { return worthOf(a) < worthOf(b); });
    std::vector<ReadLine> agreed = std::move(*best);
    readings.erase(best);
    for (ReadLine& line : agreed) {
        std::vector<RecognizedWord>& words = line.line.words;
        for (size_t i = 0; i < words.size(); ++i) {
            RecognizedWord& word = words[i];
            std::vector<WordReading> candidates{{word.text, word.confidence}};
            for (const std::vector<ReadLine>& other : readings) {
                std::optional<WordReading> read = readingOfPlace(word, other);
                // The engine's boxes are rough: a box may reach over the next word, which this reading holds
                // too ("11:38" over "11:38 AM"). That word is not read twice.
                QStringList parts = read ? read->text.split(QLatin1Char(' ')) : QStringList();
                while (parts.size() > 1 && i > 0 &&
                       parts.front().compare(words[i - 1].text, Qt::CaseInsensitive) == 0) {
                    parts.removeFirst();
                }
                while (parts.size() > 1 && i + 1 < words.size() &&
                       parts.back().compare(words[i + 1].text, Qt::CaseInsensitive) == 0) {
                    parts.removeLast();
                }
                if (read) {
                    read->text = parts.join(QLatin1Char(' '));
                    candidates.push_back(*read);
                }
            }
            const auto votes = [&](const WordReading& candidate) {
                return std::count_if(candidates.begin(), candidates.end(),
                                     [&](const WordReading& other) { return other.key() == candidate.key(); });
            };
            WordReading chosen = candidates.front();
            for (const WordReading& candidate : candidates) {
                const auto ours = votes(candidate), theirs = votes(chosen);
                if (ours > theirs || (ours == theirs && candidate.confidence > chosen.confidence)) {
                    chosen = candidate;
                }
            }
            // Where the reading agreed on spells the word as this one does, this one's spelling stays, but for a
            // space between a figure and a letter that two readings or more set ("11:27 AM" for "11:27AM"):
            // the engine drops such spaces more often than it makes them up.
            const bool setApart =
                std::count_if(candidates.begin(), candidates.end(),
                              [&](const WordReading& other) { return other.text == chosen.text; }) >= 2 &&
                figureMeetsLetterAcrossASpace(chosen.text) && !figureMeetsLetterAcrossASpace(word.text);
            if (chosen.key() != candidates.front().key() || setApart) {
                word.text = chosen.text;
            }
            word.confidence = chosen.confidence;
        }
        line.line.text.clear();
        for (const RecognizedWord& word : line.line.words) {
            line.line.text += line.line.text.isEmpty() ? word.text : QLatin1Char(' ') + word.text;
        }
    }
    return agreed;
}

/// Reads blocks of `queue` with an engine of the pool until none is left: a thread that meets short blocks
/// takes more of them, so the threads finish together. A block whose prepared reading is in doubt is read
/// once more as it stands, as the engine would read it on its own; where the two readings differ, a third,
/// of the block as it stands rescaled, settles each word they differ on (see `agreedReading`): the
/// preparation may only add to what the engine reads.
void readBlocks(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
    limitOpenMPInThisThread();
    const BorrowedEngine engine;
    tesseract::ETEXT_DESC monitor;
    monitor.cancel_this = &queue;
    monitor.cancel = [](void* queue, int) { return static_cast<BlockQueue*>(queue)->wantsToGiveUp(); };
    const int unit = std::max(1, qRound(pixelRatio));
    for (size_t index = queue.next++; index < queue.blocks.size() && !queue.wantsToGiveUp(); index = queue.next++) {
        const TextBlock& area = queue.blocks[index];
        const std::optional<BlockImage> block = prepareBlock(gray, area, unit);
        if (!block) {
            continue;
        }
        std::vector<ReadLine> lines = readBlock(engine, monitor, *block, index, qRound(96 * pixelRatio * block->scale));
        if (inDoubt(lines, area)) {
            if (const std::optional<BlockImage> plain = plainBlock(gray, area); plain && !queue.wantsToGiveUp()) {
                std::vector<ReadLine> asItStands = readBlock(engine, monitor, *plain, index, plainResolution);
                const bool disagree = wordsOf(asItStands) != wordsOf(lines);
                std::vector<std::vector<ReadLine>> readings;
                readings.push_back(std::move(lines));
                readings.push_back(std::move(asItStands));
                if (disagree && !queue.wantsToGiveUp()) {
                    readings.push_back(readBlock(engine, monitor, rescaledBlock(*plain, area), index, plainResolution));
                }
                lines = agreedReading(std::move(readings));
            }
        }
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

/// Reads the blocks of `queue` on the threads of the reading pool; rethrows the first failure of a thread.
void readInParallel(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
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
