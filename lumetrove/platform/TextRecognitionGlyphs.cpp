#include "lumetrove/platform/TextRecognitionGlyphs.h"

#include <QRect>
#include <QStringView>
#include <algorithm>

namespace lumetrove::recognition {

namespace {

constexpr int inkLevel = 200; // darker than this is ink on the block's white, the faint edges of strokes too

/// The rows of `area` of `gray` that hold ink: the first and the last, and whether blank rows lie between them.
struct InkRows {
    int first = -1, last = -1;
    bool gap = false;
};

InkRows inkRowsOf(const QImage& gray, const QRect& area)
{
    InkRows rows;
    bool blankSince = false;
    const QRect inImage = area.intersected(gray.rect());
    for (int y = inImage.top(); y <= inImage.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        const bool ink =
            std::any_of(row + inImage.left(), row + inImage.right() + 1, [](uchar level) { return level < inkLevel; });
        if (!ink) {
            blankSince = rows.first >= 0;
            continue;
        }
        rows.gap = rows.gap || blankSince;
        blankSince = false;
        rows.first = rows.first < 0 ? y : rows.first;
        rows.last = y;
    }
    return rows;
}

QRect boxOf(const Symbol& symbol)
{
    return QRect(QPoint(symbol.left, symbol.top), QPoint(symbol.right, symbol.bottom));
}

/// The x-height band of the ink of `area` of `gray`: the rows that hold half as much ink as the fullest row or
/// more. Ascenders, descenders and points hold far less.
std::pair<int, int> xHeightBandOf(const QImage& gray, const QRect& area)
{
    const QRect inImage = area.intersected(gray.rect());
    std::vector<int> counts;
    for (int y = inImage.top(); y <= inImage.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        counts.push_back(static_cast<int>(std::count_if(row + inImage.left(), row + inImage.right() + 1,
                                                        [](uchar level) { return level < inkLevel; })));
    }
    const int fullest = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    int top = -1, bottom = -1;
    for (size_t i = 0; i < counts.size() && fullest > 0; ++i) {
        if (2 * counts[i] >= fullest) {
            top = top < 0 ? inImage.top() + static_cast<int>(i) : top;
            bottom = inImage.top() + static_cast<int>(i);
        }
    }
    return {top, bottom};
}

/// Whether the glyph read as `symbols[at]`, a letter, is a slash, measured against the x-height band of the
/// rest of the word.
bool isSlash(const std::vector<Symbol>& symbols, size_t at, const QImage& gray)
{
    QRect word;
    for (size_t i = at + 1; i < symbols.size(); ++i) {
        word = word.united(boxOf(symbols[i]));
    }
    const QRect glyph = boxOf(symbols[at]);
    // The engine's boxes of glyphs are rough: the ink may reach beyond them. The slash leans, so its lower end
    // lies in the left half of its box, and its upper end beside the next glyph's.
    const int reach = std::max(1, glyph.height() / 3);
    const int top = std::min(glyph.top(), word.top()) - reach, bottom = std::max(glyph.bottom(), word.bottom()) + reach;
    // A letter of x-height before it neither rises nor descends: the slash's lower end may reach into its box.
    const bool lowBefore = at > 0 && symbols[at - 1].text.size() == 1 &&
                           QStringView(u"acemnorsuvwxz").contains(symbols[at - 1].text.front());
    const int left = at == 0     ? glyph.left() - reach
                     : lowBefore ? std::max(glyph.left() - reach, symbols[at - 1].left)
                                 : symbols[at - 1].right + 1;
    const InkRows own = inkRowsOf(gray, QRect(QPoint(left, top), QPoint(glyph.left() + glyph.width() / 2, bottom)));
    const auto [xTop, baseline] =
        xHeightBandOf(gray, QRect(QPoint(symbols[at + 1].left, top), QPoint(word.right(), bottom)));
    if (own.first < 0 || own.gap || xTop < 0 || baseline <= xTop) {
        return false;
    }
    const double xHeight = baseline - xTop + 1;
    const double rise = (xTop - own.first) / xHeight;
    const double descent = (own.last - baseline) / xHeight;
    // A slash descends a fifth of the x-height or so, a j half of it; ink further down is the next line's.
    constexpr double least = 0.1, deepestSlash = 0.4;
    return rise >= least && descent >= least && descent < deepestSlash;
}

} // namespace

void readSlashesOfPaths(std::vector<Symbol>& symbols, const QImage& gray)
{
    const auto holdsSlash = [&symbols](size_t except) {
        for (size_t i = 0; i < symbols.size(); ++i) {
            if (i != except && symbols[i].text == QLatin1String("/")) {
                return true;
            }
        }
        return false;
    };
    const auto smallLetter = [](const Symbol& symbol) {
        return symbol.text.size() == 1 && QStringView(u"acemnorsuvwxz").contains(symbol.text.front());
    };
    const size_t first = !symbols.empty() && symbols.front().text == QLatin1String("~") ? 1 : 0;
    for (size_t at = first; at + 2 < symbols.size(); ++at) {
        const QString& read = symbols[at].text;
        // At the word's start the slash reads as an f or a j; among letters, as any narrow glyph that rises
        // above them.
        const bool amongLetters =
            at > first && symbols[at - 1].text.size() == 1 && symbols[at - 1].text.front().isLetterOrNumber();
        const bool candidate = at == first
                                   ? read == QLatin1String("f") || read == QLatin1String("j")
                                   : amongLetters && read.size() == 1 && QStringView(u"fjilI").contains(read.front());
        if (candidate && smallLetter(symbols[at + 1]) && holdsSlash(at) && isSlash(symbols, at, gray)) {
            symbols[at].text = QStringLiteral("/");
        }
    }
}

} // namespace lumetrove::recognition
