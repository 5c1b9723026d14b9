#include "lumetrove/platform/TextRecognitionWords.h"

#include <QRegularExpression>
#include <QStringView>
#include <algorithm>
#include <cstddef>

namespace lumetrove::recognition {

namespace {

/// Which of the glyphs of a word of hexadecimal glyphs are figures or small letters that the engine took for
/// others (see `withFiguresAmongFigures`).
struct FigureGlyphs {
    bool amongFigures = false;       // its l, I, £, § and ¢ are 1, 1, 8, 8 and c
    bool capitalsAmongSmall = false; // so are they, and its O, its S and G, and its B beside a figure
    bool onesAfterPrefix = false;    // its l and I after "0x"
    bool shapes = false;             // its S and G
    bool colour = false;             // its S and G beside a figure
    bool smallLetters = false;       // a to f: no sign of a sum ("¢50", "£120000") then
    qsizetype prefixSize = 0;
};

/// The figure glyphs of `word`, which `match` found made of hexadecimal glyphs after its prefix; a prefix "0x" read
/// with another glyph for its zero is mended.
FigureGlyphs figureGlyphsOf(QString& word, const QRegularExpressionMatch& match)
{
    QString prefix = match.captured(1);
    const QString digits = match.captured(2);
    const auto count = [&digits](auto which) { return std::count_if(digits.begin(), digits.end(), which); };
    const auto figures = count([](QChar c) { return c.isDigit(); });
    const auto capitalFigures = count([](QChar c) { return QStringView(u"OSGIB").contains(c); });
    const bool small = count([](QChar c) { return (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || c == u'¢'; }) > 0;
    // A B is a capital or the 8 it looks like: among small letters it is the figure (see `readFigureGlyphs`).
    const bool capitals =
        count([](QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('F') && c != QLatin1Char('B'); }) > 0 ||
        (!small && digits.contains(QLatin1Char('B')));
    qsizetype runs = 0; // of figures
    for (qsizetype i = 0; i < digits.size(); ++i) {
        runs += digits[i].isDigit() && (i == 0 || !digits[i - 1].isDigit());
    }
    const bool longEnough = !prefix.isEmpty() || digits.size() >= 6;
    const bool hash = prefix.isEmpty() && digits.size() >= 8 && figures >= 1 &&
                      std::none_of(digits.begin(), digits.end(), [](QChar c) { return c.isUpper(); }) &&
                      !digits.contains(QStringLiteral("ll"));
    const bool amongFigures = (figures >= 2 && (3 * figures >= digits.size() || runs >= 2) && longEnough) || hash;
    // The dotted or slashed zero of a monospaced font reads as a 6, a G, an 8, an @, a © or a ® before the x
    // of "0x".
    if (prefix.size() == 2 && QStringView(u"6G@8©®").contains(prefix[0]) && capitals && !small) {
        prefix[0] = QLatin1Char('0');
        word[0] = QLatin1Char('0');
    }
    const bool afterHexPrefix = prefix.size() == 2 && (prefix[0] == QLatin1Char('0') || prefix[1] == QLatin1Char('x'));
    const bool colour = prefix == QLatin1String("#") && (digits.size() == 6 || digits.size() == 8) && !small;
    // A capital among small letters and figures is one figure-high glyph that the engine read as a letter.
    const bool capitalsAmongSmall =
        small && !capitals && figures >= 1 && capitalFigures >= 1 && figures + capitalFigures >= 2 && longEnough;
    const bool shapes = capitalsAmongSmall || (afterHexPrefix && !small);
    // After "0x", capitals and a figure or the S or G of one: the l or I there is a 1 too ("OxlSEA").
    const bool onesAfterPrefix =
        afterHexPrefix && !small &&
        figures + count([](QChar c) { return c == QLatin1Char('S') || c == QLatin1Char('G'); }) >= 1;
    const bool smallLetters = count([](QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('f'); }) > 0;
    return {amongFigures, capitalsAmongSmall, onesAfterPrefix, shapes, colour, smallLetters, prefix.size()};
}

/// `word` with its figure glyphs (see `figureGlyphsOf`) read as figures: also a pound or section sign, which the
/// engine reads for an 8 of like shape; and a cent sign as the c it is.
void readFigureGlyphs(QString& word, const FigureGlyphs& glyphs)
{
    for (qsizetype i = 0; i < word.size(); ++i) {
        QChar& c = word[i];
        const bool besideFigure = (i > 0 && word[i - 1].isDigit()) || (i + 1 < word.size() && word[i + 1].isDigit());
        // A sign of money stands before or after a sum; within a number or among its letters it is a glyph of it.
        const bool sign = (glyphs.amongFigures || glyphs.capitalsAmongSmall) &&
                          (glyphs.smallLetters || (i > glyphs.prefixSize && i + 1 < word.size()));
        if ((glyphs.amongFigures || glyphs.capitalsAmongSmall || glyphs.onesAfterPrefix) &&
            (c == QLatin1Char('l') || c == QLatin1Char('I'))) {
            c = QLatin1Char('1');
        } else if (sign && (c == u'¢' || c == u'£' || c == u'§')) {
            c = c == u'¢' ? QLatin1Char('c') : QLatin1Char('8');
        } else if (glyphs.capitalsAmongSmall && besideFigure && c == QLatin1Char('B')) {
            c = QLatin1Char('8');
        } else if ((glyphs.shapes || (glyphs.colour && besideFigure)) &&
                   (c == QLatin1Char('G') || c == QLatin1Char('S'))) {
            c = c == QLatin1Char('G') ? QLatin1Char('6') : QLatin1Char('5');
        } else if (glyphs.capitalsAmongSmall && c == QLatin1Char('O') && i >= glyphs.prefixSize) {
            c = QLatin1Char('0');
        }
    }
}

/// `word` with the l, I, O, o and @ among the figures of a version or a number of points ("vl.10.72", "vO.5.57",
/// "v@.22.73") read as the 1 and the dotted or narrow 0 of a small font: each part between the points is figures
/// but for such glyphs, one part at least holds only figures, and the word two figures at least.
void readFiguresOfPointedNumber(QString& word)
{
    // Never destroyed, as the engines are not: a recognition may still be reading while the program ends.
    static const auto* pointed =
        new QRegularExpression(QStringLiteral("^[vV]?([0-9lIOo@]+(?:\\.[0-9lIOo@]+)+)[.,;:)\\]]?$"));
    const QRegularExpressionMatch match = pointed->match(word);
    if (!match.hasMatch()) {
        return;
    }
    const QStringList parts = match.captured(1).split(QLatin1Char('.'));
    const auto figures = std::count_if(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
    if (figures < 2 || std::none_of(parts.begin(), parts.end(), [](const QString& part) {
            return std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); });
        })) {
        return;
    }
    for (qsizetype i = match.capturedStart(1); i < match.capturedEnd(1); ++i) {
        QChar& c = word[i];
        c = c == QLatin1Char('l') || c == QLatin1Char('I')                            ? QLatin1Char('1')
            : c == QLatin1Char('O') || c == QLatin1Char('o') || c == QLatin1Char('@') ? QLatin1Char('0')
                                                                                      : c;
    }
}

} // namespace

QString withFiguresAmongFigures(QString word)
{
    readFiguresOfPointedNumber(word);
    // Never destroyed, as the engines are not: a recognition may still be reading while the program ends.
    static const auto* number = new QRegularExpression(
        QStringLiteral("^[#$(\\[]?(?:[0Oo][xX][0-9A-Fa-fOo]+|(?=[0-9A-Fa-fOo]*[0-9])[0-9A-Fa-fOo]+)[.,:;)\\]]?$"));
    static const auto* hexadecimal =
        new QRegularExpression(QStringLiteral("^(#|[0Oo6G@8©®][xX])?([0-9A-Fa-fOolIGSB¢£§]{4,})$"));
    if (const QRegularExpressionMatch match = hexadecimal->match(word); match.hasMatch()) {
        readFigureGlyphs(word, figureGlyphsOf(word, match));
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

namespace {

bool isLetter(const Symbol& read)
{
    return read.text.size() == 1 && read.text.front().isLetter();
}

bool isFigure(const Symbol& read)
{
    return read.text.size() == 1 && read.text.front().isDigit();
}

/// Whether `read` is one letter of `before` in its other case ("L" and "l").
bool otherCase(const Symbol& before, const Symbol& read)
{
    return isLetter(before) && isLetter(read) && before.text != read.text &&
           before.text.toLower() == read.text.toLower();
}

bool letterAndFigure(const Symbol& before, const Symbol& read)
{
    return (isLetter(before) && isFigure(read)) || (isFigure(before) && isLetter(read));
}

/// Of the glyph `kept` ends with and `symbols[next]`, read over it, whether the latter is the glyph: a figure in a
/// number (another figure in the word, "#" before it, or the x of "0x" after it), a letter elsewhere; the case of the
/// letter beside it.
bool laterIsTheGlyph(const std::vector<Symbol>& symbols, size_t next, const std::vector<Symbol>& kept)
{
    const Symbol& before = kept.back();
    const Symbol& read = symbols[next];
    if (letterAndFigure(before, read)) {
        const bool number = std::count_if(symbols.begin(), symbols.end(), isFigure) >= 2 ||
                            (symbols.size() > 2 && symbols.front().text == QLatin1String("#")) ||
                            (kept.size() == 1 && next + 1 < symbols.size() &&
                             symbols[next + 1].text.compare(QLatin1String("x"), Qt::CaseInsensitive) == 0);
        return isFigure(read) == number;
    }
    if (!otherCase(before, read)) {
        return false; // read again in a shape already given
    }
    const Symbol* beside = next + 1 < symbols.size() && isLetter(symbols[next + 1]) ? &symbols[next + 1]
                           : kept.size() > 1 && isLetter(kept[kept.size() - 2])     ? &kept[kept.size() - 2]
                                                                                    : nullptr;
    return beside ? beside->text.front().isLower() == read.text.front().isLower()
                  : read.right - read.left > before.right - before.left;
}

} // namespace

void readEachGlyphOnce(std::vector<Symbol>& symbols)
{
    std::vector<int> widths;
    for (const Symbol& read : symbols) {
        if (isLetter(read) || isFigure(read)) {
            widths.push_back(read.right - read.left);
        }
    }
    if (widths.empty()) {
        return;
    }
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    const int glyph = widths[widths.size() / 2];
    std::vector<Symbol> kept;
    QString readAs; // the shapes the last glyph kept was read as, where it was read more than once
    for (size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& read = symbols[i];
        Symbol* before = kept.empty() ? nullptr : &kept.back();
        // A glyph read in two shapes may be read in one of them a third time ("CcC" for "C").
        if (before && (otherCase(*before, read) || letterAndFigure(*before, read) ||
                       (read.text.size() == 1 && readAs.contains(read.text)))) {
            const int common = std::min(before->right, read.right) - std::max(before->left, read.left);
            const int narrower = std::min(before->right - before->left, read.right - read.left);
            const int span = std::max(before->right, read.right) - std::min(before->left, read.left);
            if (narrower > 0 && 10 * common >= 4 * narrower && 10 * span <= 14 * glyph) {
                // The glyph spans both boxes: a blank beside it is no wider than it stands.
                const Symbol both{laterIsTheGlyph(symbols, i, kept) ? read.text : before->text,
                                  std::min(before->left, read.left), std::min(before->top, read.top),
                                  std::max(before->right, read.right), std::max(before->bottom, read.bottom)};
                readAs = (readAs.isEmpty() ? before->text : readAs) + read.text;
                *before = both;
                continue;
            }
        }
        readAs.clear();
        kept.push_back(read);
    }
    symbols = std::move(kept);
}

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

void readEachFigureOnce(std::vector<Symbol>& symbols)
{
    const auto glyph = [](const Symbol& read) {
        return read.text.size() == 1 &&
               (read.text.front().isDigit() || QStringView(u"abcdefABCDEFOolIx").contains(read.text.front()));
    };
    const auto separator = [](const Symbol& read) {
        return read.text.size() == 1 && QStringView(u".,:;-/#$").contains(read.text.front());
    };
    const auto figures = std::count_if(symbols.begin(), symbols.end(), isFigure);
    const bool prefixed = !symbols.empty() && (symbols.front().text == QLatin1String("#") ||
                                               (symbols.size() > 1 && symbols[1].text == QLatin1String("x")));
    if (!std::all_of(symbols.begin(), symbols.end(),
                     [&](const Symbol& read) { return glyph(read) || separator(read); }) ||
        figures < (prefixed ? 1 : 2)) {
        return;
    }
    std::vector<int> widths;
    for (const Symbol& read : symbols) {
        if (glyph(read)) {
            widths.push_back(read.right - read.left);
        }
    }
    if (widths.size() < 4) {
        return; // too few for the width of a glyph: the engine's box of one may span two
    }
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    const int width = widths[widths.size() / 2];
    for (size_t i = 1; i < symbols.size();) {
        Symbol& before = symbols[i - 1];
        const Symbol& read = symbols[i];
        // The second reading starts within the first and ends a little beyond it: a box that starts where the
        // one before does, or spans two glyphs, is the engine's rough box of a glyph of its own.
        const int common = before.right - read.left;
        const int narrower = std::min(before.right - before.left, read.right - read.left);
        const bool oneGlyph = before.left < read.left && before.right < read.right && 10 * common >= 4 * narrower &&
                              2 * (read.right - before.left) <= 3 * width;
        if (glyph(before) && glyph(read) && (isFigure(before) || isFigure(read)) && oneGlyph) {
            const bool readNarrower = read.right - read.left < before.right - before.left;
            const Symbol& kept = isFigure(read) && (!isFigure(before) || readNarrower) ? read : before;
            before = Symbol{kept.text, before.left, std::min(before.top, read.top), read.right,
                            std::max(before.bottom, read.bottom)};
            symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

std::vector<WordPart> partsAtSpaces(const std::vector<Symbol>& symbols)
{
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

bool goesOnWithoutSpace(const std::vector<Symbol>& before, const std::vector<Symbol>& after)
{
    const auto ofANumber = [](const Symbol& read) {
        return read.text.size() == 1 &&
               (read.text.front().isDigit() || read.text.front() == QLatin1Char('.') ||
                read.text.front() == QLatin1Char(':') || QStringView(u"abcdefABCDEFlIO").contains(read.text.front()));
    };
    const auto letter = [](const Symbol& read) { return read.text.front().isLetter(); };
    const auto figure = [](const Symbol& read) { return read.text.front().isDigit(); };
    if (before.empty() || after.empty() || !std::all_of(before.begin(), before.end(), ofANumber) ||
        !std::all_of(after.begin(), after.end(), ofANumber)) {
        return false;
    }
    // Letters go on with a number only in a hexadecimal one, whose two parts both hold figures: words of letters
    // and a word beside a number keep their space.
    if ((std::any_of(before.begin(), before.end(), letter) || std::any_of(after.begin(), after.end(), letter)) &&
        (std::none_of(before.begin(), before.end(), figure) || std::none_of(after.begin(), after.end(), figure))) {
        return false;
    }
    // Twice the middle of each glyph, from one glyph to the next within each word.
    const auto middle = [](const Symbol& read) { return read.left + read.right; };
    std::vector<int> steps;
    for (const std::vector<Symbol>* word : {&before, &after}) {
        for (size_t i = 1; i < word->size(); ++i) {
            steps.push_back(middle((*word)[i]) - middle((*word)[i - 1]));
        }
    }
    if (steps.size() < 3) {
        return false;
    }
    const int narrowest = *std::min_element(steps.begin(), steps.end());
    const int widest = *std::max_element(steps.begin(), steps.end());
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    const int advance = steps[steps.size() / 2];
    // In a proportional font a point is half as wide as a figure: the steps beside it are three quarters of the
    // others.
    if (advance <= 0 || 5 * narrowest < 4 * advance || 4 * widest > 5 * advance) {
        return false;
    }
    return 2 * (middle(after.front()) - middle(before.back())) <= 3 * advance;
}

bool mixesFiguresAndLetters(const QString& word)
{
    const bool figures = std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
    return figures && std::any_of(word.begin(), word.end(), [](QChar c) { return c.isLetter(); });
}

bool onlyFigures(const QString& word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); }) &&
           std::none_of(word.begin(), word.end(), [](QChar c) { return c.isLetter(); });
}

std::pair<qsizetype, qsizetype> figureSpan(const QString& text)
{
    const auto glyph = [](QChar c) { return c.isLetterOrNumber(); };
    const qsizetype first = std::find_if(text.cbegin(), text.cend(), glyph) - text.cbegin();
    const qsizetype last = text.crend() - std::find_if(text.crbegin(), text.crend(), glyph);
    return {first, std::max<qsizetype>(0, last - first)};
}

QString figuresOf(const QString& text)
{
    const auto [first, length] = figureSpan(text);
    return text.mid(first, length);
}

qsizetype afterVersionMark(const QString& word)
{
    return word.size() > 1 && (word[0] == QLatin1Char('v') || word[0] == QLatin1Char('V')) && word[1].isDigit() ? 1 : 0;
}

std::optional<std::pair<qsizetype, qsizetype>> hexadecimalDigits(const QString& word)
{
    // Never destroyed, as the engines are not: a recognition may still be reading while the program ends.
    static const auto* hexadecimal =
        new QRegularExpression(QStringLiteral("^[(\\[]?(0x|#)?([0-9A-Fa-f]+)[.,:;)\\]]?$"));
    const QRegularExpressionMatch match = hexadecimal->match(word);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QString prefix = match.captured(1);
    const QString digits = match.captured(2);
    const auto any = [&digits](auto which) { return std::any_of(digits.begin(), digits.end(), which); };
    const bool figures = any([](QChar c) { return c.isDigit(); });
    const bool small = any([](QChar c) { return c.isLower(); });
    const bool capitals = any([](QChar c) { return c.isUpper(); });
    const bool number = prefix == QLatin1String("0x")  ? digits.size() >= 2
                        : prefix == QLatin1String("#") ? digits.size() >= 3 && figures
                                                       : digits.size() >= 8 && figures && small && !capitals;
    if (!number) {
        return std::nullopt;
    }
    return std::pair{match.capturedStart(2), match.capturedLength(2)};
}

std::optional<QString> colourOfFigureLetters(const QString& word)
{
    static constexpr QStringView digits = u"0123456789ABCDEF";
    static constexpr QStringView letters = u"GSOIl";
    static constexpr QStringView figures = u"65011";
    const qsizetype size = word.size() - 1;
    if (!word.startsWith(QLatin1Char('#')) || (size != 6 && size != 8) ||
        std::any_of(word.begin() + 1, word.end(),
                    [](QChar c) { return !digits.contains(c) && !letters.contains(c); }) ||
        std::none_of(word.begin() + 1, word.end(), [](QChar c) { return letters.contains(c); })) {
        return std::nullopt;
    }
    // A word with a number after it ("#BASE64") is a hashtag.
    const auto isFigure = [](QChar c) { return c.isDigit(); };
    const auto firstFigure = std::find_if(word.begin() + 1, word.end(), isFigure);
    if (firstFigure != word.begin() + 1 && firstFigure != word.end() &&
        std::all_of(firstFigure, word.end(), isFigure)) {
        return std::nullopt;
    }
    QString colour = word;
    for (QChar& c : colour) {
        if (const qsizetype letter = letters.indexOf(c); letter >= 0) {
            c = figures[letter];
        }
    }
    return colour;
}

} // namespace lumetrove::recognition
