#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFuture>
#include <QThreadPool>
#include <QUnhandledException>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <array>
#include <atomic>
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

// Screen text is small, often light on dark, and lies in columns (a document beside an editor beside a
// panel). The engine reads dark text on a light ground with an x-height of ten pixels or more best, so:
//  - the page is cut into blocks of text (recursive XY cut). What separates blocks is measured in contrast
//    transitions between neighbouring pixels, with long straight runs (window edges, dividers, rules) taken
//    out, so that window borders and coloured panels do not hold blocks together;
//  - every block is turned dark-on-light by its own background (its most common grey level), so a dark
//    editor beside a light window is read as well as the window;
//  - images at 1x are scaled up twice, which brings 10 px status-bar text to a size the engine reads;
//  - the blocks are read in parallel, each thread with its own engine, and come back in reading order.

/// Levels a block's text stands out from its ground by.
constexpr int inkContrast = 24;
constexpr int contrastStep = 40;  // grey-level difference between neighbours that counts as a transition
constexpr int structuralRun = 64; // a straight run of transitions at least this long (1x pixels) is an edge
constexpr int columnGapWidth = 8; // blank columns (1x pixels) that separate blocks: wider than a word space
constexpr int blockPadding = 10;  // white margin around a block handed to the engine, scaled pixels
constexpr int maximumParallelReads = 6;
constexpr int smallestTextHeight = 6; // rows (1x pixels): lower blocks are rules, corners and dots
// Single lines of separate blocks this many line heights apart or closer, on one row, are one line: a label
// and its field, the cells of a row. Columns of text stand further apart, or hold paragraphs.
constexpr double rowJoiningGap = 8;
// The columns of a table stand further apart (a spreadsheet's are as wide as their longest cell); that their
// rows stand level with each other, line for line, is what tells them from columns of prose.
constexpr double tableJoiningGap = 50;

/// Sum of the grey-level steps between horizontal neighbours over every other row: how much contrast an
/// image shows.
qint64 contrastEnergy(const QImage& gray)
{
    qint64 energy = 0;
    for (int y = 0; y < gray.height(); y += 2) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 1; x < gray.width(); ++x) {
            energy += std::abs(row[x] - row[x - 1]);
        }
    }
    return energy;
}

/// The image as opaque grey levels, in its own pixels whatever its device pixel ratio. Translucent pixels
/// are laid over white or black, whichever shows more contrast: light text on a transparent ground vanishes
/// over white, dark text over black, and a half-transparent dark panel with white labels reads best over black.
QImage opaqueGray(const QImage& image)
{
    if (!image.hasAlphaChannel()) {
        QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
        gray.setDevicePixelRatio(1);
        return gray;
    }
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage overWhite(premultiplied.size(), QImage::Format_Grayscale8);
    QImage overBlack(premultiplied.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        uchar* white = overWhite.scanLine(y);
        uchar* black = overBlack.scanLine(y);
        for (int x = 0; x < premultiplied.width(); ++x) {
            // Premultiplied colour is the pixel over black; over white the ground adds what alpha leaves.
            const int gray = qGray(pixels[x]);
            black[x] = static_cast<uchar>(gray);
            white[x] = static_cast<uchar>(std::min(255, gray + 255 - qAlpha(pixels[x])));
        }
    }
    return contrastEnergy(overBlack) > contrastEnergy(overWhite) ? overBlack : overWhite;
}

/// Transition maps of a grey image: `across` marks a contrast step from the left neighbour (text and
/// vertical edges), `down` one from the neighbour above (text and horizontal edges). Straight runs longer
/// than `run` (vertical runs in `across`, horizontal runs in `down`) are cleared: they are edges, not text.
struct Transitions {
    int width = 0;
    int height = 0;
    std::vector<quint8> across;
    std::vector<quint8> down;
    const QImage& levels; // the grey image the maps were made from

    /// From `gray`, or from `colour` (of the same size, RGB32) when it is not null: white on orange or green
    /// differs little in grey but much in colour, and its letters would fall apart into specks.
    Transitions(const QImage& gray, const QImage& colour, int run)
        : width(gray.width()), height(gray.height()), levels(gray)
    {
        const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
        across.assign(size, 0);
        down.assign(size, 0);
        const auto step = [](QRgb a, QRgb b) {
            return std::max(
                {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        };
        for (int y = 0; y < height; ++y) {
            if (!colour.isNull()) {
                const auto* row = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
                const auto* above = y > 0 ? reinterpret_cast<const QRgb*>(colour.constScanLine(y - 1)) : row;
                for (int x = 0; x < width; ++x) {
                    const size_t i = index(x, y);
                    across[i] = x > 0 && step(row[x], row[x - 1]) > contrastStep;
                    down[i] = step(row[x], above[x]) > contrastStep;
                }
                continue;
            }
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

/// The median height of the runs of rows holding text among `rows[begin, end)`: the height of a line there.
int typicalLineHeight(const std::vector<int>& rows, size_t begin, size_t end)
{
    std::vector<int> runs;
    int run = 0;
    for (size_t i = begin; i <= end; ++i) {
        if (i < end && rows[i] != 0) {
            ++run;
        } else if (run > 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    if (runs.empty()) {
        return 0;
    }
    std::nth_element(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(runs.size() / 2), runs.end());
    return runs[runs.size() / 2];
}

int backgroundLevel(const QImage& gray, const QRect& area);

/// The first gap of blank `columns` (indices from `row`'s left edge, within [begin, end)) at least `width`
/// wide beside which a ground unlike the gap's own begins or ends: the edge of a control. {start, 0} when
/// there is none.
std::pair<int, int> controlGap(const Transitions& map, const QRect& row, const std::vector<int>& columns, size_t begin,
                               size_t end, int width)
{
    const int side = std::max(3, width * 3 / 4); // far enough in to pass a rounded end
    size_t start = begin;
    for (size_t i = begin; i <= end; ++i) {
        if (i < end && columns[i] == 0) {
            continue;
        }
        const int length = static_cast<int>(i - start);
        if (length >= width && start > begin && i < end) {
            const int gapLeft = row.left() + static_cast<int>(start - begin);
            const int gapRight = gapLeft + length - 1;
            const int gap =
                backgroundLevel(map.levels, QRect(QPoint(gapLeft, row.top()), QPoint(gapRight, row.bottom())));
            const QRect before(QPoint(std::max(row.left(), gapLeft - side), row.top()),
                               QPoint(gapLeft - 1, row.bottom()));
            const QRect after(QPoint(gapRight + 1, row.top()),
                              QPoint(std::min(row.right(), gapRight + side), row.bottom()));
            if (std::abs(backgroundLevel(map.levels, before) - gap) > inkContrast ||
                std::abs(backgroundLevel(map.levels, after) - gap) > inkContrast) {
                return {static_cast<int>(start), length};
            }
        }
        start = i + 1;
    }
    return {0, 0};
}

/// `leaf` widened over the columns beside it where its ink goes on without a step between pixels above each
/// other: the steep slant of a faint "A" or "V" at the end of a block. The columns a block spans are found by
/// such steps, so the slant was left out, and the letter, reaching the edge of its crop, was cleared with
/// the block's surroundings ("Imost"). The ink goes on while the column beside the leaf differs from its
/// outer neighbour somewhere in the leaf's rows; the ground around a control does not, and it stops there.
QRect withSlantedEdges(const Transitions& map, const QRect& leaf)
{
    const auto stepInColumn = [&](int x) {
        if (x < 1 || x >= map.width) {
            return false;
        }
        for (int y = leaf.top(); y <= leaf.bottom(); ++y) {
            if (map.across[map.index(x, y)] != 0) {
                return true;
            }
        }
        return false;
    };
    // A step at x lies between columns x - 1 and x: on the left the column beside the leaf holds ink when it
    // differs from the one further out; on the right, likewise, the step beyond it counts.
    int left = leaf.left(), right = leaf.right();
    while (leaf.left() - left < leaf.height() && stepInColumn(left - 1)) {
        --left;
    }
    while (right - leaf.right() < leaf.height() && stepInColumn(right + 2)) {
        ++right;
    }
    return QRect(QPoint(left, leaf.top()), QPoint(right, leaf.bottom()));
}

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
    // A gap between words grows with the text: blocks stand apart by more than three quarters of a line's
    // height, a word space by less.
    int cutStart = columnGapStart, cutLength = columnGapLength;
    bool cutColumns = columnGapLength >= std::max(columnGap, typicalLineHeight(rows, top, bottom) * 3 / 4);
    if (!cutColumns && rowGapLength == 0) {
        // In a single row, a narrower gap still ends a control: badges or buttons standing close, each with
        // a ground of its own that its label is read against.
        const auto [start, length] = controlGap(map, trimmed, columns, left, right, columnGap);
        cutColumns = length > 0;
        cutStart = start;
        cutLength = length;
    }
    // Cutting stops at a depth that no real screen reaches, as a guard against pathological images.
    if (depth > 64 || (rowGapLength == 0 && !cutColumns)) {
        blocks.push_back(withSlantedEdges(map, trimmed));
        return;
    }
    if (cutColumns && cutLength >= rowGapLength) {
        const int columnGapLength = cutLength;
        const int x = area.left() + cutStart;
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

/// How many pixels of `area` have each grey level.
std::array<int, 256> histogramOf(const QImage& gray, const QRect& area)
{
    std::array<int, 256> histogram{};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            ++histogram[row[x]];
        }
    }
    return histogram;
}

/// The ground of a histogram: its most common level within the most common band of nearby levels. A shaded
/// ground (the gradient of a push button) spreads over many levels, each rarer than the black of a bold
/// label's strokes, but together it is the most common.
int groundOf(const std::array<int, 256>& histogram)
{
    constexpr int band = 8;
    int bestCentre = 0;
    qint64 bestCount = -1, count = 0;
    for (int level = 0; level < 256 + band; ++level) {
        count += level < 256 ? histogram[static_cast<size_t>(level)] : 0;
        if (level - 2 * band - 1 >= 0) {
            count -= histogram[static_cast<size_t>(level - 2 * band - 1)];
        }
        if (level - band >= 0 && count > bestCount) {
            bestCount = count;
            bestCentre = level - band;
        }
    }
    const auto first = histogram.begin() + std::max(0, bestCentre - band);
    const auto last = histogram.begin() + std::min(255, bestCentre + band) + 1;
    return static_cast<int>(std::max_element(first, last) - histogram.begin());
}

/// The ground of `area`: the background of the text in it.
int backgroundLevel(const QImage& gray, const QRect& area)
{
    return groundOf(histogramOf(gray, area));
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
    size_t blockStart = 0; // the block's first leaf; its leaves are consecutive
    // A paragraph takes in no leaf of another: the first word of a line whose other words stand apart
    // (wide gaps in large text) would otherwise pull the line above over them, and they would be read twice.
    const auto coversOthers = [&](const QRect& area, size_t first, size_t last) {
        for (size_t other = 0; other < leaves.size(); ++other) {
            if ((other < first || other > last) && area.intersects(leaves[other])) {
                return true;
            }
        }
        return false;
    };
    for (size_t index = 0; index < leaves.size(); ++index) {
        const QRect& leaf = leaves[index];
        const bool dark = backgroundLevel(gray, leaf) < 128;
        if (!blocks.empty()) {
            TextBlock& block = blocks.back();
            const int gap = leaf.top() - block.area.bottom();
            const bool overlaps = leaf.left() < block.area.right() && leaf.right() > block.area.left();
            if (dark == lastDark && overlaps && gap >= 0 && gap < std::max(leaf.height(), lastLineHeight) &&
                !coversOthers(block.area.united(leaf), blockStart, index)) {
                block.area = block.area.united(leaf);
                block.lineHeight = std::min(block.lineHeight, leaf.height());
                lastLineHeight = leaf.height();
                continue;
            }
        }
        blocks.push_back(TextBlock{leaf, leaf.height()});
        blockStart = index;
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
    /// Whether it holds a single line of text: a label, a button, a cell, read as one line. The engine's
    /// layout analysis drops some single words as noise that it reads well as a line.
    bool singleLine = false;
};

/// How a block's grey levels become dark text on white: its ground, whether its text is lighter than the
/// ground, and how dark its text is.
struct BlockTone {
    int ground = 255;
    bool lightText = false;
    int ink = 0;
};

/// The tone of `area`: its ground is its most common level; its text is whatever differs from the ground,
/// and lies on the side of the ground where most of those pixels are. A white label on a blue, grey or
/// green button is light text on a ground of middle lightness, which the ground's lightness alone cannot tell.
BlockTone blockTone(const QImage& gray, const QRect& area)
{
    const std::array<int, 256> histogram = histogramOf(gray, area);
    BlockTone tone;
    tone.ground = groundOf(histogram);
    qint64 darker = 0, lighter = 0;
    for (int level = 0; level < 256; ++level) {
        if (level < tone.ground - inkContrast) {
            darker += histogram[static_cast<size_t>(level)];
        } else if (level > tone.ground + inkContrast) {
            lighter += histogram[static_cast<size_t>(level)];
        }
    }
    // Without a clear majority the ground's lightness decides, as dark text on light is the commoner.
    tone.lightText = lighter > darker || (lighter == darker && tone.ground < 128);
    // The text's own level: the most extreme level that a tenth of its pixels reach, so that a few stray
    // pixels (an icon's corner, a cursor) do not set it.
    const qint64 inkPixels = std::max<qint64>(1, tone.lightText ? lighter : darker);
    qint64 seen = 0;
    tone.ink = tone.lightText ? 255 : 0;
    for (int step = 0; step < 256; ++step) {
        const int level = tone.lightText ? 255 - step : step;
        seen += histogram[static_cast<size_t>(level)];
        if (seen * 10 >= inkPixels) {
            tone.ink = level;
            break;
        }
    }
    return tone;
}

/// Brings back the text of bars that the clearing took: a selected row of a list or a tree is a bar of its
/// own colour across the block, reaching its edges, with a light label on it. Rows the cleared pixels mostly
/// fill, at least `lowestBar` of them together, are read against the bar's ground: the bar becomes the
/// block's ground and what stands out of it the block's ink. The margin around a badge or a button is too
/// low to be such a bar.
void keepTextOnBars(QImage& crop, const QImage& original, const std::vector<quint8>& cleared, int ground, int lowestBar)
{
    const int width = crop.width();
    const auto isCleared = [&](int x, int y) {
        return cleared[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0;
    };
    const auto barRow = [&](int y) {
        int count = 0;
        for (int x = 0; x < width; ++x) {
            count += isCleared(x, y);
        }
        return count * 10 >= width * 6;
    };
    const int far = ground >= 128 ? 0 : 255;
    for (int top = 0; top < crop.height();) {
        if (!barRow(top)) {
            ++top;
            continue;
        }
        int bottom = top;
        while (bottom < crop.height() && barRow(bottom)) {
            ++bottom;
        }
        if (bottom - top >= lowestBar) {
            std::array<int, 256> histogram{};
            for (int y = top; y < bottom; ++y) {
                for (int x = 0; x < width; ++x) {
                    if (isCleared(x, y)) {
                        ++histogram[original.constScanLine(y)[x]];
                    }
                }
            }
            const int bar = groundOf(histogram);
            for (int y = top; y < bottom; ++y) {
                int first = 0, last = width - 1;
                while (first < width && !isCleared(first, y)) {
                    ++first;
                }
                while (last > first && !isCleared(last, y)) {
                    --last;
                }
                const uchar* from = original.constScanLine(y);
                uchar* row = crop.scanLine(y);
                for (int x = first; x <= last; ++x) {
                    const double share = std::clamp(double(from[x] - bar) / double(ground - bar), 0.0, 1.0);
                    row[x] = static_cast<uchar>(qRound(ground + (far - ground) * share));
                }
            }
        }
        top = bottom;
    }
}

/// Gives the ground's level to whatever unlike the ground reaches the crop's edge: the page around a button
/// or a badge, their rounded corners and outlines. Left in, they frame the label in a bar that the engine
/// reads as brackets and rules; text itself lies inside the crop's margin and stays.
/// Returns whether anything unlike the ground is left.
bool clearAroundGround(QImage& crop, int ground, int lowestBar)
{
    const int width = crop.width();
    const int height = crop.height();
    const QImage original = crop.copy();
    std::vector<quint8> cleared(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    const auto unlike = [&](int x, int y) { return std::abs(crop.constScanLine(y)[x] - ground) > inkContrast; };
    std::vector<QPoint> pending;
    const auto visit = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < width && y < height && unlike(x, y)) {
            crop.scanLine(y)[x] = static_cast<uchar>(ground);
            cleared[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
            pending.emplace_back(x, y);
        }
    };
    for (int x = 0; x < width; ++x) {
        visit(x, 0);
        visit(x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        visit(0, y);
        visit(width - 1, y);
    }
    while (!pending.empty()) {
        const QPoint point = pending.back();
        pending.pop_back();
        visit(point.x() + 1, point.y());
        visit(point.x() - 1, point.y());
        visit(point.x(), point.y() + 1);
        visit(point.x(), point.y() - 1);
    }
    keepTextOnBars(crop, original, cleared, ground, lowestBar);
    // Faint pixels away from anything unlike the ground go too: the soft rim of a rounded control, left in,
    // becomes a ring of grey dots once the ground is stretched, which the engine takes for a picture and reads
    // nothing in. The faint edges of letters lie beside their strokes and stay.
    bool anything = false;
    for (int y = 0; y < height; ++y) {
        uchar* row = crop.scanLine(y);
        for (int x = 0; x < width; ++x) {
            if (unlike(x, y)) {
                anything = true;
                continue;
            }
            bool besideInk = false;
            for (int dy = -1; dy <= 1 && !besideInk; ++dy) {
                for (int dx = -1; dx <= 1 && !besideInk; ++dx) {
                    besideInk =
                        x + dx >= 0 && y + dy >= 0 && x + dx < width && y + dy < height && unlike(x + dx, y + dy);
                }
            }
            if (!besideInk) {
                row[x] = static_cast<uchar>(ground);
            }
        }
    }
    return anything;
}

/// The lines of text in a crop cleared around its ground: how many, and the height of the lowest.
struct InkLines {
    int count = 0;
    int lowest = 0;
};

/// Lines are runs of rows holding anything unlike the ground; runs lower than a third of the highest (the
/// dot of an i apart from its line, an underline) are no lines of their own.
InkLines inkLines(const QImage& crop, int ground)
{
    std::vector<int> runs;
    int run = 0;
    for (int y = 0; y <= crop.height(); ++y) {
        const uchar* row = y < crop.height() ? crop.constScanLine(y) : nullptr;
        const bool ink = row != nullptr && std::any_of(row, row + crop.width(), [ground](uchar level) {
                             return std::abs(level - ground) > inkContrast;
                         });
        if (ink) {
            ++run;
        } else if (run > 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    const int highest = runs.empty() ? 0 : *std::max_element(runs.begin(), runs.end());
    InkLines lines{0, highest};
    for (const int height : runs) {
        if (3 * height >= highest) {
            ++lines.count;
            lines.lowest = std::min(lines.lowest, height);
        }
    }
    return lines;
}

/// The block ready for the engine, or nothing when it holds no text: too low for a line, or nothing left once
/// what surrounds its ground is cleared (the corner or edge of a control).
std::optional<BlockImage> prepareBlock(const QImage& gray, const TextBlock& block, int unit)
{
    if (block.area.height() < smallestTextHeight * unit) {
        return std::nullopt;
    }
    const QRect area = block.area.adjusted(-3, -3, 3, 3).intersected(gray.rect());
    QImage crop = gray.copy(area);
    // The tone is taken once the surroundings are cleared: the dark page around a light badge is no text.
    if (!clearAroundGround(crop, backgroundLevel(gray, block.area), 8 * unit)) {
        return std::nullopt;
    }
    BlockTone tone = blockTone(crop, crop.rect());
    // Lines of interface text are 12 to 18 px high at 1x. The engine reads them well from about 24 px high,
    // so they are scaled by the fraction that brings them there: scaling further up only costs time, and a
    // line of small letters only (a terminal's "-rw-r--r--") scaled twice at ratio 2 is misread. The text's own height
    // counts, not its block's: the label of a badge or a button is half as high as the control around it.
    const InkLines lines = inkLines(crop, tone.ground);
    const int lineHeight = std::min(block.lineHeight, lines.lowest > 0 ? lines.lowest : block.lineHeight);
    const double scale = std::clamp(24.0 / std::max(1, lineHeight), 1.0, 4.0);
    if (tone.lightText) {
        crop.invertPixels();
        tone.ground = 255 - tone.ground;
        tone.ink = 255 - tone.ink;
    }
    // The ground is stretched to white and the text to black: a grey ground inside the white margin would be
    // an edge that the engine reads as a quote mark or a bar, and faint text gains the contrast it lacks.
    // What lies beyond the ground on the far side of the text (the rest of a control around a label) goes white.
    if (tone.ground < 250 || tone.ink > 5) {
        const int range = std::max(1, tone.ground - tone.ink);
        std::array<uchar, 256> stretch{};
        for (int level = 0; level < 256; ++level) {
            stretch[static_cast<size_t>(level)] =
                static_cast<uchar>(std::clamp((level - tone.ink) * 255 / range, 0, 255));
        }
        for (int y = 0; y < crop.height(); ++y) {
            uchar* row = crop.scanLine(y);
            std::transform(row, row + crop.width(), row, [&](uchar level) { return stretch[level]; });
        }
    }
    if (scale > 1) {
        crop = crop.scaled(crop.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    BlockImage prepared;
    prepared.gray = QImage(crop.size() + QSize(2 * blockPadding, 2 * blockPadding), QImage::Format_Grayscale8);
    prepared.gray.fill(255);
    for (int y = 0; y < crop.height(); ++y) {
        std::copy_n(crop.constScanLine(y), crop.width(), prepared.gray.scanLine(y + blockPadding) + blockPadding);
    }
    prepared.scale = scale;
    prepared.singleLine = lines.count == 1;
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

/// A line as read from its block, the block's index, and whether it was its block's only line: a label, a
/// button, a cell.
struct ReadLine {
    RecognizedLine line;
    size_t block = 0;
    bool alone = false;
    /// Where its baseline crosses the middle of the line, in the image's pixels.
    double baseline = 0;
};

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

/// Reads blocks of `queue` with an engine of the pool until none is left: a thread that meets short blocks
/// takes more of them, so the threads finish together.
void readBlocks(const QImage& gray, BlockQueue& queue, qreal pixelRatio)
{
    limitOpenMPInThisThread();
    const BorrowedEngine engine;
    tesseract::ETEXT_DESC monitor;
    monitor.cancel_this = &queue;
    monitor.cancel = [](void* queue, int) { return static_cast<BlockQueue*>(queue)->wantsToGiveUp(); };
    for (size_t index = queue.next++; index < queue.blocks.size() && !queue.wantsToGiveUp(); index = queue.next++) {
        const TextBlock& area = queue.blocks[index];
        std::vector<ReadLine>& lines = queue.lines[index];
        const std::optional<BlockImage> block = prepareBlock(gray, area, qMax(1, qRound(pixelRatio)));
        if (!block) {
            continue;
        }
        engine->SetPageSegMode(block->singleLine ? tesseract::PSM_SINGLE_LINE : tesseract::PSM_SINGLE_BLOCK);
        engine->SetImage(block->gray.constBits(), block->gray.width(), block->gray.height(), 1,
                         static_cast<int>(block->gray.bytesPerLine()));
        engine->SetSourceResolution(qRound(96 * pixelRatio * block->scale));
        if (engine->Recognize(&monitor) != 0) {
            continue;
        }
        const std::unique_ptr<tesseract::ResultIterator> iterator(engine->GetIterator());
        if (!iterator) {
            continue;
        }
        const size_t firstLine = lines.size();
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
                ReadLine& started = lines.emplace_back();
                started.line.boundingBox = boxOf(*iterator, tesseract::RIL_TEXTLINE, *block);
                started.block = index;
                int left = 0, top = 0, right = 0, bottom = 0;
                started.baseline = iterator->Baseline(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)
                                       ? (top + bottom) / 2.0 / block->scale + block->origin.y()
                                       : started.line.boundingBox.bottom();
                lineStarted = true;
            }
            RecognizedLine& line = lines.back().line;
            line.words.push_back(RecognizedWord{word, boxOf(*iterator, tesseract::RIL_WORD, *block),
                                                iterator->Confidence(tesseract::RIL_WORD)});
            line.text += line.text.isEmpty() ? word : QLatin1Char(' ') + word;
        } while (iterator->Next(tesseract::RIL_WORD));
        if (lines.size() == firstLine + 1) {
            lines.back().alone = true;
        }
    }
}

/// Whether `a` and `b` stand on one row of the screen: of like height, mostly the same rows. A word alone
/// is boxed by its own letters: "online" is half as high as "Symbol", which reaches above and below it.
bool sameRow(const QRectF& a, const QRectF& b)
{
    const double lower = std::min(a.height(), b.height());
    const double overlap = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
    return lower > 0 && overlap >= 0.6 * lower && std::max(a.height(), b.height()) <= 2.2 * lower;
}

/// How far apart `a` and `b` stand side by side: the blank between them, negative where they overlap.
double sideGap(const QRectF& a, const QRectF& b)
{
    return std::max(b.left() - a.right(), a.left() - b.right());
}

/// How the lines read from the blocks of an image are joined into the lines that stand on screen.
///  - A block's only line (a label and its field, a row of buttons) joins single lines beside it on its row,
///    no further than `rowJoiningGap` away.
///  - The columns of a table, of an `ls -l` listing or of a list with columns are read as blocks of their
///    own: blocks of short lines (a few words each), or single cells standing in a column, edge to edge. A
///    line in such a column joins the lines of other columns that stand on its baseline, as far as
///    `tableJoiningGap` away. Columns of prose hold longer lines and stay as they are, even where their lines
///    stand level with each other, and so do the rows of lists in two panes side by side, which only happen
///    to come near each other.
class RowJoiner {
public:
    explicit RowJoiner(std::vector<ReadLine> read) : read_(std::move(read)), inColumn_(read_.size(), false)
    {
        constexpr double wordsOfACell = 3;            // at most, on average over a column's lines
        std::map<size_t, std::pair<int, int>> blocks; // lines and words of each block of several lines
        for (const ReadLine& line : read_) {
            if (!line.alone) {
                auto& [lines, words] = blocks[line.block];
                ++lines;
                words += static_cast<int>(line.line.words.size());
            }
        }
        // A column of cells: a block of short lines, or a single line whose left or right edge lines up with
        // those of two lines or more above or below it.
        for (size_t i = 0; i < read_.size(); ++i) {
            const ReadLine& line = read_[i];
            if (!line.alone) {
                const auto [lines, words] = blocks.at(line.block);
                inColumn_[i] = words <= wordsOfACell * lines;
                continue;
            }
            const QRectF& box = line.line.boundingBox;
            const double tolerance = 0.25 * box.height();
            const auto stacked = std::count_if(read_.begin(), read_.end(), [&](const ReadLine& other) {
                const QRectF& near = other.line.boundingBox;
                return &other != &line && !sameRow(box, near) &&
                       (std::abs(near.left() - box.left()) <= tolerance ||
                        std::abs(near.right() - box.right()) <= tolerance);
            });
            inColumn_[i] = stacked >= 2;
        }
        // A block of short lines is a column of a table when two thirds of its lines or more have a line of
        // another column on their baseline.
        std::map<size_t, int> besideOthers;
        for (size_t i = 0; i < read_.size(); ++i) {
            if (read_[i].alone || !inColumn_[i]) {
                continue;
            }
            bool beside = false;
            for (size_t j = 0; j < read_.size() && !beside; ++j) {
                beside = read_[j].block != read_[i].block && inTable(i, j);
            }
            besideOthers[read_[i].block] += beside;
        }
        for (size_t i = 0; i < read_.size(); ++i) {
            if (!read_[i].alone && inColumn_[i]) {
                inColumn_[i] = 3 * besideOthers[read_[i].block] >= 2 * blocks.at(read_[i].block).first;
            }
        }
    }

    /// The lines as they stand on screen: each joinable line with those it joins, left to right, where its
    /// first part was read; other lines as read.
    std::vector<RecognizedLine> lines()
    {
        std::vector<RecognizedLine> lines;
        std::vector<bool> taken(read_.size(), false);
        for (size_t i = 0; i < read_.size(); ++i) {
            if (taken[i]) {
                continue;
            }
            taken[i] = true;
            if (!read_[i].alone && !inColumn_[i]) {
                lines.push_back(std::move(read_[i].line));
                continue;
            }
            std::vector<size_t> row{i};
            QRectF span = read_[i].line.boundingBox;
            const auto blockInRow = [&](size_t block) {
                return std::any_of(row.begin(), row.end(), [&](size_t part) { return read_[part].block == block; });
            };
            for (bool grew = true; grew;) {
                grew = false;
                for (size_t j = i + 1; j < read_.size(); ++j) {
                    if (!taken[j] && !blockInRow(read_[j].block) && joins(i, j, span)) {
                        taken[j] = true;
                        row.push_back(j);
                        span = span.united(read_[j].line.boundingBox);
                        grew = true;
                    }
                }
            }
            std::sort(row.begin(), row.end(), [&](size_t a, size_t b) {
                return read_[a].line.boundingBox.left() < read_[b].line.boundingBox.left();
            });
            RecognizedLine joined;
            joined.boundingBox = span;
            for (const size_t part : row) {
                RecognizedLine& line = read_[part].line;
                joined.text += joined.text.isEmpty() ? line.text : QLatin1Char(' ') + line.text;
                std::move(line.words.begin(), line.words.end(), std::back_inserter(joined.words));
            }
            lines.push_back(std::move(joined));
        }
        return lines;
    }

private:
    /// Whether line `j` stands in a row of a table with line `i`: on its baseline, within reach of it.
    bool inTable(size_t i, size_t j, const QRectF& span) const
    {
        const RecognizedLine& line = read_[i].line;
        const RecognizedLine& other = read_[j].line;
        const double height = std::min(line.boundingBox.height(), other.boundingBox.height());
        return inColumn_[j] && sameRow(line.boundingBox, other.boundingBox) &&
               sideGap(span, other.boundingBox) <= tableJoiningGap * line.boundingBox.height() &&
               std::abs(read_[i].baseline - read_[j].baseline) <= 0.3 * height;
    }
    bool inTable(size_t i, size_t j) const { return inTable(i, j, read_[i].line.boundingBox); }

    /// Whether line `j` joins the row that line `i` began, which spans `span` so far.
    bool joins(size_t i, size_t j, const QRectF& span) const
    {
        const QRectF& box = read_[j].line.boundingBox;
        if (read_[i].alone && read_[j].alone && sameRow(read_[i].line.boundingBox, box) &&
            sideGap(span, box) <= rowJoiningGap * read_[i].line.boundingBox.height()) {
            return true;
        }
        return inColumn_[i] && inTable(i, j, span);
    }

    std::vector<ReadLine> read_;
    std::vector<bool> inColumn_;
};

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
        // read at half size, its boxes halved.
        const QImage gray = opaqueGray(image);
        giveUpIfCancelled();
        const qreal pixelRatio = std::max<qreal>(1, image.devicePixelRatio());
        const int unit = std::max(1, qRound(pixelRatio));
        std::vector<QRect> leaves;
        const QImage colour = image.hasAlphaChannel() ? QImage() : image.convertToFormat(QImage::Format_RGB32);
        cutIntoBlocks(Transitions(gray, colour, structuralRun * unit), gray.rect(), columnGapWidth * unit, leaves);
        giveUpIfCancelled();

        BlockQueue queue;
        queue.cancelled = &cancelled;
        queue.blocks = mergeIntoParagraphs(gray, leaves);
        giveUpIfCancelled();
        queue.lines.resize(queue.blocks.size());
        const int threads =
            std::max(1, std::min(readingPool().maxThreadCount(), static_cast<int>(queue.blocks.size())));
        std::vector<QFuture<void>> reads;
        for (int thread = 0; thread < threads; ++thread) {
            reads.push_back(QtConcurrent::run(&readingPool(),
                                              [&gray, &queue, pixelRatio] { readBlocks(gray, queue, pixelRatio); }));
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
        if (queue.givenUp) {
            throw TextRecognitionCancelled();
        }
        std::vector<ReadLine> lines;
        for (std::vector<ReadLine>& part : queue.lines) {
            std::move(part.begin(), part.end(), std::back_inserter(lines));
        }
        RecognizedText text;
        text.lines = RowJoiner(std::move(lines)).lines();
        return text;
    }
};

} // namespace

std::shared_ptr<TextRecognizer> makeTesseractTextRecognizer()
{
    return std::make_shared<TesseractTextRecognizer>();
}

} // namespace lumetrove
