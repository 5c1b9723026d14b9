#include "lumetrove/platform/TextRecognitionNumbers.h"

#include "lumetrove/platform/TextRecognitionGlyphs.h"
#include "lumetrove/platform/TextRecognitionWords.h"

#include <QStringView>
#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

namespace lumetrove::recognition {

namespace {

/// The text of the word at `word` in `framed`, `scale` of its pixels to a pixel of the image, with the small figures
/// 3 and 5 read by their shape (see `readThreesAndFivesByTheirShape`): read alone and enlarged, the engine takes one
/// for the other more often than in the line.
QString wordText(const tesseract::ResultIterator& word, const QImage& framed, double scale)
{
    std::vector<Symbol> symbols;
    tesseract::ResultIterator symbol(word);
    do {
        Symbol read{takeText(symbol.GetUTF8Text(tesseract::RIL_SYMBOL))};
        if (!symbol.BoundingBox(tesseract::RIL_SYMBOL, &read.left, &read.top, &read.right, &read.bottom)) {
            return takeText(word.GetUTF8Text(tesseract::RIL_WORD));
        }
        symbols.push_back(read);
    } while (symbol.Next(tesseract::RIL_SYMBOL) && !symbol.IsAtBeginningOf(tesseract::RIL_WORD));
    readThreesAndFivesByTheirShape(symbols, framed, scale);
    QString text;
    for (const Symbol& read : symbols) {
        text += read.text;
    }
    return text;
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
        if (const QString text = wordText(*iterator, framed, block.scale * enlargement); !text.isEmpty()) {
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

/// `read`, a number's digits read alone, with the figures it reads in place of those of `digits`, the line's
/// reading: a letter it read in the line, or a figure where it now reads a letter, it read no worse than alone.
QString withFiguresOf(const QString& read, const QString& digits)
{
    QString number = digits;
    for (qsizetype i = 0; i < number.size(); ++i) {
        if (read[i].isDigit() && digits[i].isDigit()) {
            number[i] = read[i];
        }
    }
    return number;
}

} // namespace

std::optional<QString> alignedFigures(const QString& read, const QString& digits)
{
    const qsizetype gained = read.size() - digits.size();
    if (gained == 0) {
        return withFiguresOf(read, digits);
    }
    if (gained != 1 && gained != -1) {
        return std::nullopt;
    }
    std::optional<QString> best;
    qsizetype fewest = digits.size() + 1;
    for (qsizetype gap = 0; gap < std::max(read.size(), digits.size()); ++gap) {
        QString aligned = gained > 0 ? QString(read).remove(gap, 1) : QString(read).insert(gap, digits[gap]);
        const qsizetype differing = std::inner_product(aligned.begin(), aligned.end(), digits.begin(), qsizetype{0},
                                                       std::plus<>(), std::not_equal_to<>());
        aligned = withFiguresOf(aligned, digits);
        if (differing < fewest) {
            fewest = differing;
            best = aligned;
        } else if (differing == fewest && best != aligned) {
            best = QString(); // as good a fit elsewhere, of other figures
        }
    }
    return best && !best->isEmpty() ? best : std::nullopt;
}

namespace {

/// The digits of the hexadecimal number in `box` read on its own, of hexadecimal glyphs only (see
/// `wordReadAlone`), in the case of `digits`, the number's digits as the line reads them, its figures set against
/// them (see `alignedFigures`). Nothing unless it reads a hexadecimal number of about as many digits.
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
    if (number.isEmpty() || !std::all_of(number.begin(), number.end(),
                                         [](QChar c) { return QStringView(u"0123456789abcdefABCDEF").contains(c); })) {
        return std::nullopt;
    }
    return alignedFigures(number, digits);
}

/// The digits of the hexadecimal number in `box`, `digits` as the line reads them, where its readings alone (see
/// `hexadecimalReadAlone`) agree on others: the reading enlarged twice and the one enlarged one and a half times, or
/// where those two differ, the first of the readings enlarged two and a half and three times that reads a number
/// there and sides with one of the two or with the line. The readings enlarged two and three times take the dotted
/// zero of a small monospaced font alike for an 8, where the one enlarged two and a half times sees the zero as the
/// line does. Nothing where none agree so.
std::optional<QString> hexadecimalAgreedAlone(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor,
                                              const BlockImage& block, const QRectF& box, int resolution,
                                              const QString& digits)
{
    const auto alone = [&](double enlargement) {
        return hexadecimalReadAlone(engine, monitor, block, box, resolution, enlargement, digits);
    };
    const std::optional<QString> twice = alone(2);
    if (!twice || *twice == digits) {
        return std::nullopt;
    }
    const std::optional<QString> once = alone(1.5);
    if (once == twice) {
        return twice;
    }
    for (const double enlargement : {2.5, 3.0}) {
        const std::optional<QString> third = alone(enlargement);
        if (!third) {
            continue;
        }
        if (third == twice) {
            return twice;
        }
        if (third == once || third == digits) {
            return third != digits ? third : std::nullopt;
        }
    }
    return std::nullopt;
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

/// Pixels high: the engine reads larger figures as drawn, those of small text at ratio 2 too.
constexpr int smallFigures = 12;
/// Below it, the engine doubts a number: read alone, it may read otherwise.
constexpr float doubtfulConfidence = 95;

/// What became of a word reread as a hexadecimal number.
enum class Reread { notOne, kept, mended };

/// Where `word` is a hexadecimal number (see `hexadecimalDigits`), or a colour whose figures the line read as
/// capitals (see `colourOfFigureLetters`) that no dictionary word is, its figures as its readings alone agree on
/// them (see `hexadecimalAgreedAlone`): the engine takes one figure for another in small numbers whatever its
/// confidence, in larger ones where it is unsure of them (a monospaced 6 read as a 0), and reads such a
/// number alone as drawn.
Reread rereadHexadecimal(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                         int resolution, RecognizedWord& word)
{
    constexpr float unsureConfidence = 70;
    Reread reread = Reread::notOne;
    if (const auto colour = colourOfFigureLetters(word.text);
        colour && engine->IsValidWord(word.text.mid(1).toUtf8().constData()) == 0) {
        word.text = *colour;
        reread = Reread::mended;
    }
    const Reread unchanged = reread == Reread::mended ? reread : Reread::kept;
    const bool small = word.boundingBox.height() <= smallFigures;
    const auto hexadecimal = hexadecimalDigits(word.text);
    if (!hexadecimal && (small || word.confidence < unsureConfidence) && mixesFiguresAndLetters(word.text) &&
        word.confidence < doubtfulConfidence) {
        if (const auto among =
                hexadecimalAmongLetters(engine, monitor, block, word.boundingBox, resolution, word.text)) {
            word.text = *among;
            return Reread::mended;
        }
    }
    if (!hexadecimal) {
        return reread;
    }
    if (!small && word.confidence >= unsureConfidence) {
        return unchanged;
    }
    const auto [first, length] = *hexadecimal;
    const QString digits = word.text.mid(first, length);
    if (const auto agreed = hexadecimalAgreedAlone(engine, monitor, block, word.boundingBox, resolution, digits)) {
        word.text.replace(first, length, *agreed);
        return Reread::mended;
    }
    return unchanged;
}

} // namespace

/// Rereads the small numbers of `lines` that the engine doubts, each on its own (see `numberReadAlone`): in a
/// line of small figures the engine weighs each glyph against its neighbours and reads the dotted zero of a
/// monospaced font as a 6 or an 8, a 0 beside a 6 as a 6; the number alone and larger it mostly reads as drawn.
/// A reading alone is kept where two of them, enlarged by different factors, agree on figures other than the
/// line's; their errors fall on different glyphs. Only the figures change: the narrow margin of a word read
/// alone shows the edges of its neighbours, which the engine reads as a bracket or a quote mark. Words holding
/// a letter keep their reading ("16GB", "l0gin"): read alone, they lose as many letters as they gain; but the "v"
/// of a version stands outside its number, whose dotted zeros are misread as any other's ("v1.16.72").
/// Hexadecimal numbers are read alone, of hexadecimal glyphs only, where they are small whatever the engine's
/// confidence, larger where it is unsure of them (see `rereadHexadecimal`): in them it takes one figure for another,
/// a dotted 0 for a 6, a 3 for a 5, and is sure of it. Where two readings alone disagree, a third settles it.
void rereadDoubtfulNumbers(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                           int resolution, BlockQueue& queue, std::vector<ReadLine>& lines)
{
    for (ReadLine& line : lines) {
        bool changed = false;
        for (RecognizedWord& word : line.line.words) {
            if (queue.wantsToGiveUp()) {
                continue;
            }
            if (const Reread hexadecimal = rereadHexadecimal(engine, monitor, block, resolution, word);
                hexadecimal != Reread::notOne) {
                changed = changed || hexadecimal == Reread::mended;
                continue;
            }
            if (word.boundingBox.height() > smallFigures) {
                continue;
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

} // namespace lumetrove::recognition
