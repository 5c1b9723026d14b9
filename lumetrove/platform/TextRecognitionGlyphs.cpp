#include "lumetrove/platform/TextRecognitionGlyphs.h"

#include <QRect>
#include <QStringView>
#include <algorithm>
#include <optional>

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

/// The ink of `area` of `gray` (dark on a light ground) as its darkness between the lightest and the darkest level
/// of the area, 0 to 1.
class Darkness {
public:
    Darkness(const QImage& gray, const QRect& area) : gray_(gray)
    {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = gray.constScanLine(y);
            const auto [low, high] = std::minmax_element(row + area.left(), row + area.right() + 1);
            darkest_ = std::min<int>(darkest_, *low);
            lightest_ = std::max<int>(lightest_, *high);
        }
    }
    int range() const { return lightest_ - darkest_; }
    double operator()(int x, int y) const { return double(lightest_ - gray_.constScanLine(y)[x]) / range(); }

private:
    const QImage& gray_;
    int lightest_ = 0, darkest_ = 255;
};

/// The box of the ink of `area`: of its pixels darker than a third of the way from the lightest level to the darkest.
QRect inkBox(const Darkness& darkness, const QRect& area)
{
    constexpr double inkLevel = 0.35;
    QRect ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ink = darkness(x, y) > inkLevel ? ink.united(QRect(x, y, 1, 1)) : ink;
        }
    }
    return ink;
}

/// How much darker the left third of the glyph in `box` of `gray` is than its right third, from a fifth of its height
/// to two fifths, each as its mean darkness (see `Darkness`). The glyph's ink is sought from a quarter of the box's
/// height above it to as far below, as the engine's boxes are rough. Nothing where the ink is fainter than a
/// glyph's or fewer than `fewestRows` rows high.
std::optional<double> upperInkLeftOverRight(const QImage& gray, const QRect& box, int fewestRows)
{
    const int reach = box.height() / 4;
    const QRect area = box.adjusted(0, -reach, 0, reach).intersected(gray.rect());
    if (area.isEmpty()) {
        return std::nullopt;
    }
    const Darkness darkness(gray, area);
    constexpr int faintest = 40; // levels between the ink and the ground
    if (darkness.range() < faintest) {
        return std::nullopt;
    }
    const QRect ink = inkBox(darkness, area);
    if (ink.height() < fewestRows || ink.width() < 3) {
        return std::nullopt;
    }
    const auto meanDarkness = [&](int left, int right) {
        double sum = 0;
        int pixels = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y) {
            const double height = (y - ink.top() + 0.5) / ink.height();
            for (int x = left; x <= right && height >= 0.2 && height < 0.4; ++x, ++pixels) {
                sum += darkness(x, y);
            }
        }
        return pixels > 0 ? sum / pixels : 0;
    };
    const int third = ink.width() / 3;
    return meanDarkness(ink.left(), ink.left() + third - 1) - meanDarkness(ink.right() - third + 1, ink.right());
}

} // namespace

void readThreesAndFivesByTheirShape(std::vector<Symbol>& symbols, const QImage& gray, double scale)
{
    // Image pixels: the engine reads larger figures as drawn. Read pixels: fewer rows do not show the strokes apart.
    constexpr double smallFigure = 9;
    constexpr int fewestRows = 10;
    constexpr double leaning = 0.1; // of the darkness: the strokes of either figure lie on both sides of the middle
    // Of the width of the word's wide glyphs (the three quarters mark, as a 1 is narrow): a wider box takes in the
    // glyph beside it (the x of a "0x" before the figure).
    constexpr double widest = 1.4;
    std::vector<int> widths;
    for (const Symbol& symbol : symbols) {
        if (symbol.text.size() == 1 && symbol.text.front().isLetterOrNumber()) {
            widths.push_back(symbol.right - symbol.left + 1);
        }
    }
    if (widths.empty()) {
        return;
    }
    const size_t wide = widths.size() * 3 / 4;
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(wide), widths.end());
    const int wideGlyph = widths[wide];
    for (Symbol& symbol : symbols) {
        if (symbol.text != QLatin1String("3") && symbol.text != QLatin1String("5")) {
            continue;
        }
        const QRect box = boxOf(symbol);
        if (box.height() > smallFigure * scale || box.width() > widest * wideGlyph) {
            continue;
        }
        const std::optional<double> leftOverRight = upperInkLeftOverRight(gray, box, fewestRows);
        if (leftOverRight && *leftOverRight < -leaning) {
            symbol.text = QStringLiteral("3");
        } else if (leftOverRight && *leftOverRight > leaning) {
            symbol.text = QStringLiteral("5");
        }
    }
}

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
