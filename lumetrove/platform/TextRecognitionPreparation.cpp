#include "lumetrove/platform/TextRecognitionPreparation.h"

#include "lumetrove/platform/TextRecognitionLevels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <numbers>
#include <vector>

namespace lumetrove::recognition {

namespace {

constexpr int blockPadding = 10; // white margin around a block handed to the engine, scaled pixels
// Rows (1x pixels): lower blocks are rules, corners and dots. A word of small letters without ascenders ("or",
// "so", "an") in 8 px text is about as low as the x-height, 4 px; wider by half than it is high, it is kept.
constexpr int smallestTextHeight = 5;
constexpr int smallestWordHeight = 4;
// Lines higher than this (the image's pixels) are scaled down to `readLine` pixels high.
constexpr int largestReadLine = 48;
constexpr double readLine = 36;

/// How a block's grey levels become dark text on white: its ground, whether its text is lighter than the
/// ground, and how dark its text is.
struct BlockTone {
    int ground = 255;
    bool lightText = false;
    int ink = 0;
};

/// The tone of text whose levels `histogram` counts on its `ground` (see `textGround`): its text is whatever
/// differs from the ground, and lies on the side of the ground where most of those pixels are. A white label
/// on a blue, grey or green button is light text on a ground of middle lightness, which the ground's
/// lightness alone cannot tell.
BlockTone toneOf(const std::array<int, 256>& histogram, int ground)
{
    BlockTone tone;
    tone.ground = ground;
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

/// The tone of `area` on its `ground` (see `toneOf`).
BlockTone blockTone(const QImage& gray, const QRect& area, int ground)
{
    return toneOf(histogramOf(gray, area), ground);
}

/// Brings back the text of bars that the clearing took: a selected row of a list or a tree is a bar of its
/// own colour across the block, reaching its edges, with a label on it. Rows the cleared pixels mostly
/// fill, at least `lowestBar` of them together, are read against the bar's ground: the bar becomes the
/// block's ground and what stands out of it the block's ink. The margin around a badge or a button is too
/// low to be such a bar. The bar's label may lie on either side of the bar's level, whatever the block's
/// ground: a blue bar in a dark list is lighter than the list and its white label lighter still, a light bar
/// there holds dark text. So the label is what stands out of the bar on the side most of it lies on.
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
            // The bar's level is that of its cleared pixels; its label's tone is taken over all that lies
            // between the bar's ends, where a label of the block's ground was not cleared.
            std::vector<std::pair<int, int>> spans; // the first and last cleared column of each row
            std::array<int, 256> barLevels{}, spanLevels{};
            for (int y = top; y < bottom; ++y) {
                int first = 0, last = width - 1;
                while (first < width && !isCleared(first, y)) {
                    ++first;
                }
                while (last > first && !isCleared(last, y)) {
                    --last;
                }
                spans.emplace_back(first, last);
                const uchar* from = original.constScanLine(y);
                for (int x = first; x <= last; ++x) {
                    ++spanLevels[from[x]];
                    barLevels[from[x]] += isCleared(x, y);
                }
            }
            const BlockTone label = toneOf(spanLevels, groundOf(barLevels));
            const int contrast = label.ink == label.ground ? (label.lightText ? 1 : -1) : label.ink - label.ground;
            for (int y = top; y < bottom; ++y) {
                const auto [first, last] = spans[static_cast<size_t>(y - top)];
                const uchar* from = original.constScanLine(y);
                uchar* row = crop.scanLine(y);
                for (int x = first; x <= last; ++x) {
                    const double share = std::clamp(double(from[x] - label.ground) / contrast, 0.0, 1.0);
                    row[x] = static_cast<uchar>(qRound(ground + (far - ground) * share));
                }
            }
        }
        top = bottom;
    }
}

/// The columns of a crop that are rules across its whole height, from edge to edge: the border of a scroll
/// bar, of a table. A flood from the crop's edge through one would take the letters that touch it, the stem of
/// the "P" of a text area's first word against its scroll bar. Letters lie inside the crop's margin and reach
/// neither edge. `unlike(x, y)` tells whether a pixel is unlike the ground.
template <typename Unlike> std::vector<bool> rulesAcross(int width, int height, const Unlike& unlike)
{
    std::vector<bool> rule(static_cast<size_t>(width), false);
    for (int x = 0; x < width && height > 0; ++x) {
        int ink = 0;
        for (int y = 0; y < height; ++y) {
            ink += unlike(x, y) ? 1 : 0;
        }
        rule[static_cast<size_t>(x)] = unlike(x, 0) && unlike(x, height - 1) && 10 * ink >= 9 * height;
    }
    return rule;
}

/// Gives `ground` to the pixels of `crop`, taken from `area` of `gray`, that lie in a stipple (see `stippleOf`):
/// beside a line it would be read as part of the first letter. The stipple is found in a wider area, so that
/// the strip of it that the crop takes in is found however narrow.
void clearStipple(QImage& crop, const QImage& gray, const QRect& area, int ground)
{
    constexpr int reach = 7; // a stipple's patch is up to eight pixels long
    const QRect around = area.adjusted(-reach, -reach, reach, reach).intersected(gray.rect());
    const std::vector<quint8> stipple = stippleOf(gray.copy(around));
    if (stipple.empty()) {
        return;
    }
    for (int y = 0; y < crop.height(); ++y) {
        uchar* row = crop.scanLine(y);
        const size_t line = static_cast<size_t>(y + area.top() - around.top()) * static_cast<size_t>(around.width());
        for (int x = 0; x < crop.width(); ++x) {
            if (stipple[line + static_cast<size_t>(x + area.left() - around.left())] != 0) {
                row[x] = static_cast<uchar>(ground);
            }
        }
    }
}

struct InkPiece {
    QRect box;
    int pixels = 0;
    QPoint first;
};

/// The pieces of ink unlike `ground` in `crop`, each of pixels touching at their sides or corners; `pieceOf`
/// gets the index of each pixel's piece, -1 for the ground.
std::vector<InkPiece> inkPiecesOf(const QImage& crop, int ground, std::vector<int>& pieceOf)
{
    const int width = crop.width();
    const int height = crop.height();
    const auto at = [width](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; };
    const auto unlike = [&](int x, int y) { return std::abs(crop.constScanLine(y)[x] - ground) > inkContrast; };
    pieceOf.assign(static_cast<size_t>(width) * static_cast<size_t>(height), -1);
    std::vector<InkPiece> pieces;
    std::vector<QPoint> pending;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (pieceOf[at(x, y)] >= 0 || !unlike(x, y)) {
                continue;
            }
            const int label = static_cast<int>(pieces.size());
            InkPiece piece{QRect(x, y, 1, 1), 0, QPoint(x, y)};
            pieceOf[at(x, y)] = label;
            pending.emplace_back(x, y);
            while (!pending.empty()) {
                const QPoint point = pending.back();
                pending.pop_back();
                ++piece.pixels;
                piece.box = piece.box.united(QRect(point, QSize(1, 1)));
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = point.x() + dx, ny = point.y() + dy;
                        if (nx >= 0 && ny >= 0 && nx < width && ny < height && pieceOf[at(nx, ny)] < 0 &&
                            unlike(nx, ny)) {
                            pieceOf[at(nx, ny)] = label;
                            pending.emplace_back(nx, ny);
                        }
                    }
                }
            }
            pieces.push_back(piece);
        }
    }
    return pieces;
}

/// The pieces whose boxes lie inside the box of piece `outline`, not touching its sides.
std::vector<size_t> piecesWithinBox(const std::vector<InkPiece>& pieces, size_t outline)
{
    const QRect& ring = pieces[outline].box;
    std::vector<size_t> inside;
    for (size_t other = 0; other < pieces.size(); ++other) {
        const QRect& box = pieces[other].box;
        if (other != outline && box.left() > ring.left() && box.right() < ring.right() && box.top() > ring.top() &&
            box.bottom() < ring.bottom()) {
            inside.push_back(other);
        }
    }
    return inside;
}

/// Whether `held` of `pieces` stand on one line: their rows together leave no row out between them.
bool onOneLine(const std::vector<InkPiece>& pieces, const std::vector<size_t>& held)
{
    std::vector<std::pair<int, int>> rows;
    for (const size_t piece : held) {
        rows.emplace_back(pieces[piece].box.top(), pieces[piece].box.bottom());
    }
    std::sort(rows.begin(), rows.end());
    int bottom = rows.empty() ? 0 : rows.front().second;
    for (const auto& [top, lowest] : rows) {
        if (top > bottom + 1) {
            return false;
        }
        bottom = std::max(bottom, lowest);
    }
    return true;
}

/// Gives `ground` to the outlines of controls standing inside the crop: a thin ring of ink unlike the ground
/// that encloses something else unlike it, as the oval or rounded outline of a button encloses its label. Buttons
/// standing close are one block; left in, their outlines are read as brackets and rules, the labels' letters run
/// into them, and the line read is scaled for the outlines' height rather than the labels'. A letter holds no
/// other ink in its counters, and the strokes of a bold one fill too much of its box.
/// The edge of the capture closes an outline that it cuts (`shown` is the part of the crop that the image shows,
/// beyond which lies the margin it is read in): left in, the open outline is read as a bracket running into its
/// label, or the label is lost. Only an outline around a single line is closed so, as a button's is: a frame
/// that the edge cuts holds lines whose letters may touch it, and would go with it.
void clearEnclosingOutlines(QImage& crop, int ground, const QRect& shown)
{
    const int width = crop.width();
    const auto at = [width](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; };
    std::vector<int> pieceOf;
    const std::vector<InkPiece> pieces = inkPiecesOf(crop, ground, pieceOf);
    std::vector<QPoint> pending;
    std::vector<quint8> reached(pieceOf.size(), 0);
    // The pieces of `inside` that piece `outline` encloses: the ground around it, flooded from beyond its box
    // without crossing it or leaving `open`, does not reach them.
    const auto enclosed = [&](size_t outline, const std::vector<size_t>& inside, const QRect& open) {
        const QRect around = pieces[outline].box.adjusted(-1, -1, 1, 1).intersected(crop.rect());
        for (int y = around.top(); y <= around.bottom(); ++y) {
            std::fill_n(reached.begin() + static_cast<std::ptrdiff_t>(at(around.left(), y)), around.width(), 0);
        }
        floodFromBorder(around, pending, [&](int x, int y) {
            if (around.contains(x, y) && open.contains(x, y) && reached[at(x, y)] == 0 &&
                pieceOf[at(x, y)] != static_cast<int>(outline)) {
                reached[at(x, y)] = 1;
                pending.emplace_back(x, y);
            }
        });
        std::vector<size_t> held;
        std::copy_if(inside.begin(), inside.end(), std::back_inserter(held),
                     [&](size_t other) { return reached[at(pieces[other].first.x(), pieces[other].first.y())] == 0; });
        return held;
    };
    const QRect awayFromEdge = shown.adjusted(1, 1, -1, -1);
    for (size_t outline = 0; outline < pieces.size(); ++outline) {
        const InkPiece& ring = pieces[outline];
        if (4 * static_cast<qint64>(ring.pixels) > static_cast<qint64>(ring.box.width()) * ring.box.height()) {
            continue;
        }
        const std::vector<size_t> inside = piecesWithinBox(pieces, outline);
        if (inside.empty()) {
            continue;
        }
        bool encloses = !enclosed(outline, inside, crop.rect()).empty();
        if (!encloses && !awayFromEdge.contains(ring.box)) {
            const std::vector<size_t> held = enclosed(outline, inside, shown);
            encloses = !held.empty() && onOneLine(pieces, held);
        }
        for (int y = ring.box.top(); encloses && y <= ring.box.bottom(); ++y) {
            uchar* row = crop.scanLine(y);
            for (int x = ring.box.left(); x <= ring.box.right(); ++x) {
                if (pieceOf[at(x, y)] == static_cast<int>(outline)) {
                    row[x] = static_cast<uchar>(ground);
                }
            }
        }
    }
}

/// Gives the ground's level to whatever unlike the ground reaches the crop's edge: the page around a button
/// or a badge, their rounded corners and outlines. Left in, they frame the label in a bar that the engine
/// reads as brackets and rules; text itself lies inside the crop's margin and stays.
/// Returns whether anything unlike the ground is left. `shown` is the part of the crop that the image shows.
bool clearAroundGround(QImage& crop, int ground, int lowestBar, const QRect& shown)
{
    const int width = crop.width();
    const int height = crop.height();
    const QImage original = crop.copy();
    std::vector<quint8> cleared(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    const auto unlike = [&](int x, int y) { return std::abs(crop.constScanLine(y)[x] - ground) > inkContrast; };
    // A flood through a rule would take the letters that touch it (see `rulesAcross`): rules go on their own.
    const std::vector<bool> rule = rulesAcross(width, height, unlike);
    const auto clear = [&](int x, int y) {
        crop.scanLine(y)[x] = static_cast<uchar>(ground);
        cleared[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
    };
    std::vector<QPoint> pending;
    const auto visit = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < width && y < height && !rule[static_cast<size_t>(x)] && unlike(x, y)) {
            clear(x, y);
            pending.emplace_back(x, y);
        }
    };
    floodFromBorder(QRect(0, 0, width, height), pending, visit);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; rule[static_cast<size_t>(x)] && y < height; ++y) {
            if (unlike(x, y)) {
                clear(x, y);
            }
        }
    }
    keepTextOnBars(crop, original, cleared, ground, lowestBar);
    clearEnclosingOutlines(crop, ground, shown);
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

/// Whether the text of `crop`, cleared around its ground, is drawn without smoothing (see
/// `BlockImage::aliased`): nearly all that differs from the ground lies at the ink's level. The edges of smoothed
/// glyphs take every level between the two, a good part of their pixels; a bitmap font's, none.
bool drawnWithoutSmoothing(const QImage& crop, const BlockTone& tone)
{
    const std::array<int, 256> histogram = histogramOf(crop, crop.rect());
    qint64 unlike = 0, atInk = 0;
    for (int level = 0; level < 256; ++level) {
        const qint64 pixels = histogram[static_cast<size_t>(level)];
        if (std::abs(level - tone.ground) > inkContrast) {
            unlike += pixels;
            atInk += std::abs(level - tone.ink) <= inkContrast ? pixels : 0;
        }
    }
    return unlike > 0 && 100 * atInk >= 97 * unlike;
}

/// The block ready for the engine, or nothing when it holds no text: too low for a line, or nothing left once
/// what surrounds its ground is cleared (the corner or edge of a control).
/// Stretches the ground of `crop` (dark text on light by now) to white and its text to black: a grey ground
/// inside the white margin would be an edge that the engine reads as a quote mark or a bar, and faint text
/// gains the contrast it lacks. What lies beyond the ground on the far side of the text (the rest of a
/// control around a label) goes white.
void stretchToBlackOnWhite(QImage& crop, const BlockTone& tone)
{
    if (tone.ground >= 250 && tone.ink <= 5) {
        return;
    }
    const int range = std::max(1, tone.ground - tone.ink);
    std::array<uchar, 256> stretch{};
    for (int level = 0; level < 256; ++level) {
        stretch[static_cast<size_t>(level)] = static_cast<uchar>(std::clamp((level - tone.ink) * 255 / range, 0, 255));
    }
    for (int y = 0; y < crop.height(); ++y) {
        uchar* row = crop.scanLine(y);
        std::transform(row, row + crop.width(), row, [&](uchar level) { return stretch[level]; });
    }
}

/// The weight of a source sample `x` pixels away in a Lanczos window of two and a half lobes. The window of
/// three, sharper still, makes the engine read the letters between the dashes of a terminal's "-rw-r--r--"
/// as other letters.
double lanczos(double x)
{
    constexpr double lobes = 2.5;
    x = std::abs(x);
    if (x < 1e-9) {
        return 1;
    }
    if (x >= lobes) {
        return 0;
    }
    const double angle = std::numbers::pi * x;
    return lobes * std::sin(angle) * std::sin(angle / lobes) / (angle * angle);
}

/// For each of `to` samples along one axis enlarged from `from`: the first source sample it weighs and the
/// six weights (the window reaches less than three samples to each side), summing to one. Samples beyond the
/// edge are the edge's own.
struct Taps {
    std::vector<int> first;
    std::vector<std::array<float, 6>> weights;
};

Taps tapsFor(int from, int to)
{
    Taps taps;
    taps.first.resize(static_cast<size_t>(to));
    taps.weights.resize(static_cast<size_t>(to));
    const double step = double(from) / double(to);
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * step - 0.5;
        const int first = static_cast<int>(std::floor(centre)) - 2;
        double sum = 0;
        std::array<double, 6> weights{};
        for (int k = 0; k < 6; ++k) {
            weights[static_cast<size_t>(k)] = lanczos(centre - (first + k));
            sum += weights[static_cast<size_t>(k)];
        }
        taps.first[static_cast<size_t>(i)] = first;
        for (int k = 0; k < 6; ++k) {
            taps.weights[static_cast<size_t>(i)][static_cast<size_t>(k)] =
                static_cast<float>(weights[static_cast<size_t>(k)] / sum);
        }
    }
    return taps;
}

/// `gray` enlarged to `size` through a Lanczos window. Tiny text enlarged bilinearly comes out blurred: the
/// stroke between two pixels of a 6-pixel figure spreads over both, and the engine reads an 8 as a 6 or a 3 as
/// a 5. The window keeps the strokes' edges and the counters between them.
QImage enlarged(const QImage& gray, QSize size)
{
    const int width = gray.width(), height = gray.height();
    const Taps across = tapsFor(width, size.width());
    const Taps down = tapsFor(height, size.height());
    const auto clampedTo = [](int i, int length) { return std::clamp(i, 0, length - 1); };
    std::vector<float> rows(static_cast<size_t>(size.width()) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const uchar* row = gray.constScanLine(y);
        float* out = rows.data() + static_cast<size_t>(y) * static_cast<size_t>(size.width());
        for (int x = 0; x < size.width(); ++x) {
            const int first = across.first[static_cast<size_t>(x)];
            const auto& weights = across.weights[static_cast<size_t>(x)];
            float value = 0;
            for (int k = 0; k < 6; ++k) {
                value += weights[static_cast<size_t>(k)] * row[clampedTo(first + k, width)];
            }
            out[x] = value;
        }
    }
    QImage made(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y) {
        const int first = down.first[static_cast<size_t>(y)];
        const auto& weights = down.weights[static_cast<size_t>(y)];
        std::array<const float*, 6> sources{};
        for (int k = 0; k < 6; ++k) {
            sources[static_cast<size_t>(k)] =
                rows.data() + static_cast<size_t>(clampedTo(first + k, height)) * static_cast<size_t>(size.width());
        }
        uchar* out = made.scanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            float value = 0;
            for (int k = 0; k < 6; ++k) {
                value += weights[static_cast<size_t>(k)] * sources[static_cast<size_t>(k)][x];
            }
            out[x] = static_cast<uchar>(std::clamp(std::lround(value), 0L, 255L));
        }
    }
    return made;
}

/// `crop`, taken from `area` of the image and scaled by `scale`, in a margin of `ground` for the engine.
BlockImage framed(const QImage& crop, int ground, const QRect& area, double scale)
{
    BlockImage block;
    block.gray = QImage(crop.size() + QSize(2 * blockPadding, 2 * blockPadding), QImage::Format_Grayscale8);
    block.gray.fill(static_cast<uint>(ground));
    for (int y = 0; y < crop.height(); ++y) {
        std::copy_n(crop.constScanLine(y), crop.width(), block.gray.scanLine(y + blockPadding) + blockPadding);
    }
    block.scale = scale;
    block.origin = QPointF(area.topLeft()) - QPointF(blockPadding, blockPadding) / scale;
    return block;
}

} // namespace

std::optional<BlockImage> prepareBlock(const QImage& gray, const TextBlock& block, int unit, const QRect& shown)
{
    const bool lowWord =
        block.area.height() >= smallestWordHeight * unit && 2 * block.area.width() >= 3 * block.area.height();
    if (block.area.height() < smallestTextHeight * unit && !lowWord) {
        return std::nullopt;
    }
    const QRect area = block.area.adjusted(-3, -3, 3, 3).intersected(gray.rect());
    QImage crop = gray.copy(area);
    // The tone is taken once the surroundings are cleared: the dark page around a light badge is no text.
    const int ground = textGround(gray, block.area, area, block.lineHeight);
    clearStipple(crop, gray, area, ground);
    if (!clearAroundGround(crop, ground, 8 * unit, shown.translated(-area.topLeft()))) {
        return std::nullopt;
    }
    BlockTone tone = blockTone(crop, crop.rect(), ground);
    // Lines of interface text are 12 to 18 px high at 1x. The engine reads them well from about 24 px high,
    // so they are scaled by the fraction that brings them there: scaling further up only costs time, and a
    // line of small letters only (a terminal's "-rw-r--r--") scaled twice at ratio 2 is misread. The text's
    // own height counts, not its block's: the label of a badge or a button is half as high as the control
    // around it. Lines far higher than the engine reads best (a heading, large text at ratio 2) are brought
    // down to about that height: a glyph a hundred pixels high it splits ("v/7" for "v7") or reads as another.
    const InkLines lines = inkLines(crop, tone.ground);
    const int lineHeight = std::min(block.lineHeight, lines.lowest > 0 ? lines.lowest : block.lineHeight);
    const double scale =
        lineHeight > largestReadLine ? readLine / lineHeight : std::clamp(24.0 / std::max(1, lineHeight), 1.0, 4.0);
    const bool aliased = drawnWithoutSmoothing(crop, tone);
    if (tone.lightText) {
        crop.invertPixels();
        tone.ground = 255 - tone.ground;
        tone.ink = 255 - tone.ink;
    }
    stretchToBlackOnWhite(crop, tone);
    // Text whose lines are a few pixels high is enlarged more than three times; bilinearly, its strokes blur
    // into each other (see `enlarged`). Larger text is enlarged less and reads better bilinearly: a sharper
    // enlargement runs the "rn" of faint 11 px text together into an "m".
    if (scale > 3) {
        crop = enlarged(crop, crop.size() * scale);
    } else if (scale != 1) {
        crop = crop.scaled(crop.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    BlockImage prepared = framed(crop, 255, area, scale);
    prepared.singleLine = lines.count == 1;
    prepared.aliased = aliased;
    return prepared;
}

std::optional<BlockImage> plainBlock(const QImage& gray, const TextBlock& block, const BlockImage& prepared)
{
    const QRect area = block.area.adjusted(-3, -3, 3, 3).intersected(gray.rect());
    QImage crop = gray.copy(area);
    const int ground = textGround(gray, block.area, area, block.lineHeight);
    const BlockTone tone = blockTone(crop, crop.rect(), ground);
    if (inkLines(crop, ground).count == 0) {
        return std::nullopt;
    }
    if (tone.lightText) {
        crop.invertPixels();
    }
    BlockImage plain = framed(crop, tone.lightText ? 255 - ground : ground, area, 1);
    plain.singleLine = prepared.singleLine;
    return plain;
}

BlockImage rescaledBlock(const BlockImage& plain, const TextBlock& block)
{
    const int lineHeight = std::max(1, block.lineHeight);
    const double factor = lineHeight > largestReadLine ? 24.0 / lineHeight : std::clamp(48.0 / lineHeight, 1.5, 4.0);
    BlockImage rescaled = plain;
    rescaled.gray = plain.gray.scaled(plain.gray.size() * factor, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    rescaled.scale = plain.scale * factor;
    return rescaled;
}

} // namespace lumetrove::recognition
