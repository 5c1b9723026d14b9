#include "lumetrove/platform/TextRecognitionBlocks.h"

#include "lumetrove/platform/TextRecognitionLevels.h"

#include <algorithm>
#include <cstdlib>

namespace lumetrove::recognition {

namespace {

constexpr int contrastStep = 40;      // grey-level difference between neighbours that counts as a transition
constexpr int structuralRun = 64;     // a straight run of transitions at least this long (1x pixels) is an edge
constexpr int columnGapWidth = 8;     // blank columns (1x pixels) that separate blocks: wider than a word space
constexpr int smallestLineHeight = 5; // rows (1x pixels) of the lowest text beside which a rule is told apart

/// Transition maps of a grey image: `across` marks a contrast step from the left neighbour (text and
/// vertical edges), `down` one from the neighbour above (text and horizontal edges). Straight runs longer
/// than `run` (vertical runs in `across`, horizontal runs in `down`) are cleared: they are edges, not text.
struct Transitions {
    int width = 0;
    int height = 0;
    std::vector<quint8> across;
    std::vector<quint8> down;
    const QImage& levels;        // the grey image the maps were made from
    std::vector<quint8> stipple; // its pixels that lie in a stipple (see `stippleOf`); empty when none do

    /// From `gray`, or from `colour` (of the same size, RGB32) when it is not null: white on orange or green
    /// differs little in grey but much in colour, and its letters would fall apart into specks.
    Transitions(const QImage& gray, const QImage& colour, int run, int unit)
        : width(gray.width()), height(gray.height()), levels(gray)
    {
        const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
        across.assign(size, 0);
        down.assign(size, 0);
        const auto step = [](QRgb a, QRgb b) {
            return std::max(std::max(std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b))),
                            std::abs(qBlue(a) - qBlue(b)));
        };
        // Row by row through pointers, the row's length held apart from the maps it writes, so that the loops
        // run on vectors: every pixel of the screen is visited here, and the cut waits for it.
        const int columns = width;
        for (int y = 0; y < height; ++y) {
            quint8* acrossRow = across.data() + index(0, y);
            quint8* downRow = down.data() + index(0, y);
            if (!colour.isNull()) {
                const auto* row = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
                const auto* above = y > 0 ? reinterpret_cast<const QRgb*>(colour.constScanLine(y - 1)) : row;
                for (int x = 1; x < columns; ++x) {
                    acrossRow[x] = step(row[x], row[x - 1]) > contrastStep;
                }
                for (int x = 0; x < columns; ++x) {
                    downRow[x] = step(row[x], above[x]) > contrastStep;
                }
                continue;
            }
            const uchar* row = gray.constScanLine(y);
            const uchar* above = y > 0 ? gray.constScanLine(y - 1) : row;
            for (int x = 1; x < columns; ++x) {
                acrossRow[x] = std::abs(row[x] - row[x - 1]) > contrastStep;
            }
            for (int x = 0; x < columns; ++x) {
                downRow[x] = std::abs(row[x] - above[x]) > contrastStep;
            }
        }
        // A stipple is no text (see `stippleOf`), nor are the steps between it and what lies beside it.
        stipple = stippleOf(gray);
        if (!stipple.empty()) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const size_t i = index(x, y);
                    across[i] = across[i] != 0 && stipple[i] == 0 && (x == 0 || stipple[i - 1] == 0);
                    down[i] = down[i] != 0 && stipple[i] == 0 && (y == 0 || stipple[index(x, y - 1)] == 0);
                }
            }
        }
        clearFramesFromEdgeToEdge(run, unit);
        clearLongColumnRuns(run);
        for (int y = 0; y < height; ++y) {
            clearLongRuns(width, run, [&](int x) -> quint8& { return down[index(x, y)]; });
        }
    }

    /// Clears the vertical runs of `across` at least `run` long, as `clearLongRuns` does for each column, but
    /// row by row for all columns at once: a column of a large screen spans megabytes.
    void clearLongColumnRuns(int run)
    {
        const int columns = width;
        std::vector<int> start(static_cast<size_t>(columns), 0); // the first row of each column's current run
        for (int y = 0; y <= height; ++y) {
            const quint8* row = y < height ? across.data() + index(0, y) : nullptr;
            for (int x = 0; x < columns; ++x) {
                if (row != nullptr && row[x] != 0) {
                    continue;
                }
                int& first = start[static_cast<size_t>(x)];
                for (int j = first; y - first >= run && j < y; ++j) {
                    across[index(x, j)] = 0;
                }
                first = y + 1;
            }
        }
    }

    /// Clears the steps of thin vertical lines that run from the first row holding anything to the last: a
    /// window's frame that a capture lower than an edge's `run` cuts at both ends. Left in, it holds all the
    /// capture's lines and controls together in one block. A line is thin where its two edges stand at most
    /// two points (`unit` pixels each) apart; the stem of a letter that a tight capture of a word spans is
    /// shorter than half of `run` or thicker.
    void clearFramesFromEdgeToEdge(int run, int unit)
    {
        int top = height, bottom = -1;
        for (int y = 0; y < height; ++y) {
            const auto holds = [&](const std::vector<quint8>& map) {
                return std::any_of(map.begin() + static_cast<std::ptrdiff_t>(index(0, y)),
                                   map.begin() + static_cast<std::ptrdiff_t>(index(0, y + 1)),
                                   [](quint8 step) { return step != 0; });
            };
            if (holds(across) || holds(down)) {
                top = std::min(top, y);
                bottom = y;
            }
        }
        // A line from edge to edge starts with a step down at its first row and ends with one in the row after
        // its last. Lines as long as `run` go with the other edges.
        if (2 * (bottom - top) < run || bottom - top >= run) {
            return;
        }
        const auto spans = [&](int x) {
            for (int y = top; y < bottom; ++y) {
                if (across[index(x, y)] == 0) {
                    return false;
                }
            }
            return true;
        };
        std::vector<bool> frame(static_cast<size_t>(width), false);
        std::vector<bool> spanning(static_cast<size_t>(width), false);
        for (int x = 0; x < width; ++x) {
            spanning[static_cast<size_t>(x)] = spans(x);
        }
        for (int x = 0; x < width; ++x) {
            for (int k = 1; k <= 2 * unit && spanning[static_cast<size_t>(x)] && x + k < width; ++k) {
                if (spanning[static_cast<size_t>(x + k)]) {
                    frame[static_cast<size_t>(x)] = frame[static_cast<size_t>(x + k)] = true;
                }
            }
        }
        for (int x = 0; x < width; ++x) {
            for (int y = top; frame[static_cast<size_t>(x)] && y < bottom; ++y) {
                across[index(x, y)] = 0;
            }
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

/// The first gap of blank `columns` (indices from `row`'s left edge, within [begin, end)) at least `width`
/// wide beside which a ground unlike the gap's own begins or ends: the edge of a control. The ground beside a
/// gap is that of all that stands between it and the next such gap (or the row's end): a control's fill, or
/// the page between words. A strip beside the gap would not do: in large bold text the stroke next to the
/// gap is most of it. {start, 0} when there is none.
std::pair<int, int> controlGap(const Transitions& map, const QRect& row, const std::vector<int>& columns, size_t begin,
                               size_t end, int width)
{
    std::vector<std::pair<int, int>> gaps; // first and last column of each, in the image
    size_t start = begin;
    for (size_t i = begin; i <= end; ++i) {
        if (i < end && columns[i] == 0) {
            continue;
        }
        if (static_cast<int>(i - start) >= width && start > begin && i < end) {
            gaps.emplace_back(row.left() + static_cast<int>(start - begin),
                              row.left() + static_cast<int>(i - begin) - 1);
        }
        start = i + 1;
    }
    const auto area = [&](int left, int right) { return QRect(QPoint(left, row.top()), QPoint(right, row.bottom())); };
    // A control's fill is about as wide as its ink is high, or wider: a narrower piece unlike the gap is a
    // letter standing apart in large text (the stem of an "l", a bold "0"), whose strokes cover most of it.
    const auto ownFill = [&](const QRect& piece, int gap) {
        if (showsGround(map.levels, piece, gap)) {
            return false;
        }
        int top = piece.bottom() + 1, bottom = piece.top() - 1;
        for (int y = piece.top(); y <= piece.bottom(); ++y) {
            const uchar* line = map.levels.constScanLine(y);
            for (int x = piece.left(); x <= piece.right(); ++x) {
                if (std::abs(line[x] - gap) > inkContrast) {
                    top = std::min(top, y);
                    bottom = y;
                    break;
                }
            }
        }
        return 5 * piece.width() >= 4 * (bottom - top + 1);
    };
    for (size_t k = 0; k < gaps.size(); ++k) {
        const auto [gapLeft, gapRight] = gaps[k];
        const int gap = backgroundLevel(map.levels, area(gapLeft, gapRight));
        const QRect before = area(k > 0 ? gaps[k - 1].second + 1 : row.left(), gapLeft - 1);
        const QRect after = area(gapRight + 1, k + 1 < gaps.size() ? gaps[k + 1].first - 1 : row.right());
        if (ownFill(before, gap) || ownFill(after, gap)) {
            return {gapLeft - row.left() + static_cast<int>(begin), gapRight - gapLeft + 1};
        }
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

/// The span [first, last) of a profile from its first entry holding ink to its last.
std::pair<size_t, size_t> inkSpan(const std::vector<int>& ink)
{
    size_t first = 0, last = ink.size();
    while (first < last && ink[first] == 0) {
        ++first;
    }
    while (last > first && ink[last - 1] == 0) {
        --last;
    }
    return {first, last};
}

/// The start and length of the widest run of blank entries of `ink` within [begin, end).
std::pair<int, int> widestGap(const std::vector<int>& ink, size_t begin, size_t end)
{
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
    return {static_cast<int>(bestStart), static_cast<int>(bestLength)};
}

/// The start and length of the widest run of blank rows within [begin, end) that stands between lines: not
/// one that parts a line from a sliver of itself just beside it, the dot of an "i" or an accent above it, the
/// tail of a "g" below it. A sliver lower than a third of the run of ink rows on the gap's other side, nearer
/// to it than half that run's height, is part of its line, and so is one lower than half that run, nearer to
/// it than a quarter of its own height (the dot of an "i" in large bold serif text): cut off, the line's
/// letters lose it ("1s" read for "is"), and the letter it belongs to reaches the edge of its block and is
/// cleared with the block's surroundings ("bud et" for "budget").
std::pair<int, int> widestGapBetweenLines(const std::vector<int>& ink, size_t begin, size_t end)
{
    // The runs of ink rows, each [first, last), in order.
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = begin; i < end; ++i) {
        if (ink[i] == 0) {
            continue;
        }
        if (runs.empty() || runs.back().second != i) {
            runs.emplace_back(i, i + 1);
        } else {
            runs.back().second = i + 1;
        }
    }
    size_t bestStart = 0, bestLength = 0;
    for (size_t k = 1; k < runs.size(); ++k) {
        const size_t above = runs[k - 1].second - runs[k - 1].first;
        const size_t below = runs[k].second - runs[k].first;
        const size_t gap = runs[k].first - runs[k - 1].second;
        const size_t sliver = std::min(above, below), line = std::max(above, below);
        // No line of text stands as close to another as the dot of an "i" stands to its stem.
        if ((3 * sliver < line && 2 * gap < line) || (2 * sliver < line && 4 * gap < sliver)) {
            continue;
        }
        if (gap > bestLength) {
            bestLength = gap;
            bestStart = runs[k - 1].second;
        }
    }
    return {static_cast<int>(bestStart), static_cast<int>(bestLength)};
}

/// The steps of `map` on both sides of each thin line unlike the ground of `leaf` down nearly all of it, at
/// leaf.left() + i; a stipple counts as ground.
std::vector<bool> ruleStepsOf(const Transitions& map, const QRect& leaf, int unit)
{
    const int ground = backgroundLevel(map.levels, leaf);
    const auto unlike = [&](int x, int y) {
        return x >= 0 && x < map.width && std::abs(map.levels.constScanLine(y)[x] - ground) > inkContrast &&
               (map.stipple.empty() || map.stipple[map.index(x, y)] == 0);
    };
    // Whether the column `x` is unlike the ground in nine rows of ten or more; a stipple counts as ground.
    const auto spans = [&](int x) {
        int misses = 0;
        for (int y = leaf.top(); y <= leaf.bottom(); ++y) {
            if (!unlike(x, y) && 10 * ++misses > leaf.height()) {
                return false;
            }
        }
        return true;
    };
    // Whether the ground comes back within two points on either side of the column `x`, in most rows.
    const auto thin = [&](int x) {
        const auto groundAt = [&](int column) {
            int count = 0;
            for (int y = leaf.top(); y <= leaf.bottom(); ++y) {
                count += unlike(column, y) ? 1 : 0;
            }
            return 2 * count <= leaf.height();
        };
        bool left = false, right = false;
        for (int k = 1; k <= 2 * unit; ++k) {
            left = left || groundAt(x - k);
            right = right || groundAt(x + k);
        }
        return left && right;
    };
    std::vector<bool> rule(static_cast<size_t>(leaf.width()) + 1, false);
    for (int x = leaf.left(); x <= leaf.right(); ++x) {
        if (spans(x) && thin(x)) {
            rule[static_cast<size_t>(x - leaf.left())] = rule[static_cast<size_t>(x - leaf.left()) + 1] = true;
        }
    }
    return rule;
}

/// Takes out of `map` the rules across `leaf`, a leaf of the cut: thin lines unlike its ground down nearly all
/// of it, beyond the text beside them by a line's height or more. A scroll bar's border that the capture's
/// edge cuts short is shorter than a window's edge is: it holds the line beside it in a block as high as
/// itself, which is then neither scaled for the line's size nor parted from the lines above and below it. A
/// letter's stem is thicker, or stands within the extent of the letters beside it; a letter that touches the
/// rule does not hide it. Returns whether it took any steps out.
bool clearRulesAcross(Transitions& map, const QRect& leaf, int unit)
{
    // The text beside a rule is a line at least `smallestLineHeight` high, and the rule reaches as far again.
    if (leaf.height() < 2 * smallestLineHeight * unit) {
        return false;
    }
    const std::vector<bool> rule = ruleStepsOf(map, leaf, unit);
    if (std::none_of(rule.begin(), rule.end(), [](bool step) { return step; })) {
        return false;
    }
    std::vector<int> without(static_cast<size_t>(leaf.height()), 0); // the leaf's rows without the rules
    bool taken = false;
    for (int y = leaf.top(); y <= leaf.bottom(); ++y) {
        for (int x = leaf.left(); x <= leaf.right() + 1 && x < map.width; ++x) {
            const bool step = map.across[map.index(x, y)] != 0;
            if (rule[static_cast<size_t>(x - leaf.left())]) {
                taken = taken || step;
            } else if (x <= leaf.right()) {
                without[static_cast<size_t>(y - leaf.top())] += step ? 1 : 0;
            }
        }
    }
    const auto [first, last] = inkSpan(without);
    const int line = typicalLineHeight(without, 0, without.size());
    if (!taken || line < smallestLineHeight * unit || leaf.height() - static_cast<int>(last - first) < line) {
        return false;
    }
    for (int y = leaf.top(); y <= leaf.bottom(); ++y) {
        for (int x = leaf.left(); x <= leaf.right() + 1 && x < map.width; ++x) {
            if (rule[static_cast<size_t>(x - leaf.left())]) {
                map.across[map.index(x, y)] = 0;
            }
        }
    }
    return true;
}

/// The lines that stand in `area` of `map`, each as its first and last row: the runs of rows holding ink, a
/// sliver beside a line (the dot of an "i", the tail of a "g") taken into it as `widestGapBetweenLines` does.
std::vector<std::pair<int, int>> linesIn(const Transitions& map, const QRect& area)
{
    std::vector<std::pair<int, int>> lines;
    int gapBefore = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        bool ink = false;
        for (int x = area.left(); x <= area.right() && !ink; ++x) {
            ink = map.across[map.index(x, y)] != 0;
        }
        if (!ink) {
            ++gapBefore;
            continue;
        }
        if (!lines.empty() && gapBefore == 0) {
            lines.back().second = y;
        } else {
            lines.emplace_back(y, y);
        }
        gapBefore = 0;
    }
    for (size_t k = 1; k < lines.size();) {
        const int above = lines[k - 1].second - lines[k - 1].first + 1;
        const int below = lines[k].second - lines[k].first + 1;
        const int gap = lines[k].first - lines[k - 1].second - 1;
        const int sliver = std::min(above, below), line = std::max(above, below);
        if (3 * sliver < line && 2 * gap < line) {
            lines[k - 1].second = lines[k].second;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(k));
        } else {
            ++k;
        }
    }
    return lines;
}

/// Whether the blank columns [x, x + length) of `area` only end a line that reaches further than the lines
/// above and below it, rather than standing between columns: on one side of them stands a single line, on
/// the other two lines or more, one of which it stands level with, no further from it than the words of a line
/// stand apart (see `joinWordsOfRows`). Cut there, the end of the line would be a block of its own, read after
/// all the other lines.
bool endsOneLine(const Transitions& map, const QRect& area, int x, int length)
{
    const auto left = linesIn(map, QRect(area.topLeft(), QPoint(x - 1, area.bottom())));
    const auto right = linesIn(map, QRect(QPoint(x + length, area.top()), area.bottomRight()));
    if (left.size() == right.size() || std::min(left.size(), right.size()) != 1) {
        return false;
    }
    const auto& others = left.size() == 1 ? right : left;
    const auto [first, last] = left.size() == 1 ? left.front() : right.front();
    const int height = last - first + 1;
    if (2 * length > 3 * height) {
        return false;
    }
    return std::any_of(others.begin(), others.end(), [&](const std::pair<int, int>& other) {
        const int otherHeight = other.second - other.first + 1;
        const int overlap = std::min(last, other.second) - std::max(first, other.first) + 1;
        return 5 * overlap >= 3 * std::min(height, otherHeight) &&
               5 * std::min(height, otherHeight) >= 3 * std::max(height, otherHeight);
    });
}

/// Recursive XY cut of `area`: trims blank margins, then splits at the widest interior gap of blank rows,
/// or of blank columns at least `columnGapWidth` points wide (`unit` pixels each), and appends the leaves in
/// reading order (top to bottom, then left to right). A leaf that rules hold together is cut once more
/// without them (see `clearRulesAcross`).
void cutIntoBlocks(Transitions& map, QRect area, int unit, std::vector<QRect>& blocks, int depth = 0)
{
    std::vector<int> rows(static_cast<size_t>(area.height()), 0);
    std::vector<int> columns(static_cast<size_t>(area.width()), 0);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const quint8* across = map.across.data() + map.index(area.left(), y);
        const quint8* down = map.down.data() + map.index(area.left(), y);
        int steps = 0;
        for (int x = 0; x < area.width(); ++x) {
            steps += across[x];
            columns[static_cast<size_t>(x)] += down[x];
        }
        rows[static_cast<size_t>(y - area.top())] = steps;
    }
    const auto [top, bottom] = inkSpan(rows);
    const auto [left, right] = inkSpan(columns);
    if (top == bottom || left == right) {
        return; // no text here
    }
    const QRect trimmed(area.left() + static_cast<int>(left), area.top() + static_cast<int>(top),
                        static_cast<int>(right - left), static_cast<int>(bottom - top));
    const auto [rowGap, rowGapLength] = widestGapBetweenLines(rows, top, bottom);
    const int columnGap = columnGapWidth * unit;
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
    if (cutColumns && rowGapLength > 0 && endsOneLine(map, trimmed, area.left() + cutStart, cutLength)) {
        cutColumns = false;
    }
    // Cutting stops at a depth that no real screen reaches, as a guard against pathological images.
    if (depth > 64 || (rowGapLength == 0 && !cutColumns)) {
        if (depth <= 64 && clearRulesAcross(map, trimmed, unit)) {
            cutIntoBlocks(map, trimmed, unit, blocks, depth + 1);
            return;
        }
        blocks.push_back(withSlantedEdges(map, trimmed));
        return;
    }
    if (cutColumns && cutLength >= rowGapLength) {
        const int columnGapLength = cutLength;
        const int x = area.left() + cutStart;
        cutIntoBlocks(map, QRect(QPoint(trimmed.left(), trimmed.top()), QPoint(x - 1, trimmed.bottom())), unit, blocks,
                      depth + 1);
        cutIntoBlocks(map, QRect(QPoint(x + columnGapLength, trimmed.top()), trimmed.bottomRight()), unit, blocks,
                      depth + 1);
    } else {
        const int y = area.top() + rowGap;
        cutIntoBlocks(map, QRect(trimmed.topLeft(), QPoint(trimmed.right(), y - 1)), unit, blocks, depth + 1);
        cutIntoBlocks(map, QRect(QPoint(trimmed.left(), y + rowGapLength), trimmed.bottomRight()), unit, blocks,
                      depth + 1);
    }
}

} // namespace

std::vector<QRect> cutIntoLeaves(const QImage& gray, const QImage& colour, int unit)
{
    std::vector<QRect> leaves;
    Transitions map(gray, colour, structuralRun * unit, unit);
    cutIntoBlocks(map, gray.rect(), unit, leaves);
    return leaves;
}

namespace {

/// Joins the words of a line that the cut set apart back into the line: a leaf joins the one before it where
/// it stands on its row, no further from it than one and a half times its height, on a like ground. Where
/// words stand two spaces apart, or a short word stands between wider gaps, the cut sets them apart; a short
/// word read on its own ("so", "an", "a"), without the line around it, the engine misreads or drops.
/// Controls standing close each stand on a ground of their own, and columns stand further apart. A word about
/// as high as its row or lower (of letters without ascenders, or a large bold figure) may be mostly ink: the
/// level around it is its ground. A control beside a label stands well higher than the label.
std::vector<QRect> joinWordsOfRows(const QImage& gray, const std::vector<QRect>& leaves)
{
    std::vector<QRect> rows;
    int lastGround = -1;
    const auto groundOf = [&gray](const QRect& leaf) {
        return textGround(gray, leaf, leaf.adjusted(-3, -3, 3, 3).intersected(gray.rect()), leaf.height());
    };
    const auto coversOthers = [&](const QRect& area, size_t first, size_t last) {
        for (size_t other = 0; other < leaves.size(); ++other) {
            if ((other < first || other > last) && area.intersects(leaves[other])) {
                return true;
            }
        }
        return false;
    };
    size_t rowStart = 0;
    for (size_t index = 0; index < leaves.size(); ++index) {
        const QRect& leaf = leaves[index];
        const int ground = groundOf(leaf);
        if (!rows.empty()) {
            const QRect& row = rows.back();
            const int lower = std::min(row.height(), leaf.height());
            const int overlap = std::min(row.bottom(), leaf.bottom()) - std::max(row.top(), leaf.top()) + 1;
            const int gap = leaf.left() - row.right() - 1;
            const QRect joined = row.united(leaf);
            // Controls standing close each stand on a ground of their own, unlike that of the gap between them.
            const QRect between(QPoint(row.right() + 1, joined.top()), QPoint(leaf.left() - 1, joined.bottom()));
            // So may the row begun by such a word ("0" of "0.74" in large bold figures, cut off by the gap
            // beside its dot): its ground is the level around it when that is the ground of the word after it.
            const int rowGround =
                std::abs(ground - lastGround) > inkContrast && 8 * row.height() <= 9 * leaf.height() &&
                        std::abs(marginLevel(gray, row.adjusted(-2, -2, 2, 2).intersected(gray.rect())) - ground) <=
                            inkContrast
                    ? ground
                    : lastGround;
            const bool likeGround = (gap == 0 || std::abs(backgroundLevel(gray, between) - rowGround) <= inkContrast) &&
                                    (std::abs(ground - rowGround) <= inkContrast ||
                                     (8 * leaf.height() <= 9 * row.height() &&
                                      std::abs(marginLevel(gray, leaf.adjusted(-2, -2, 2, 2).intersected(gray.rect())) -
                                               rowGround) <= inkContrast));
            if (2 * overlap >= lower && gap >= 0 && 2 * gap <= 3 * std::max(row.height(), leaf.height()) &&
                likeGround && joined.height() <= row.height() + lower / 2 && !coversOthers(joined, rowStart, index)) {
                rows.back() = joined;
                lastGround = rowGround;
                continue;
            }
        }
        rows.push_back(leaf);
        rowStart = index;
        lastGround = ground;
    }
    return rows;
}

/// Joins the lines that the cut separated back into paragraphs and columns: a leaf joins the block before
/// it when it lies just below it, overlaps it horizontally and has a background of the same kind.
} // namespace

std::vector<TextBlock> mergeIntoParagraphs(const QImage& gray, const std::vector<QRect>& cut)
{
    const std::vector<QRect> leaves = joinWordsOfRows(gray, cut);
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
        const bool dark =
            textGround(gray, leaf, leaf.adjusted(-3, -3, 3, 3).intersected(gray.rect()), leaf.height()) < 128;
        if (!blocks.empty()) {
            TextBlock& block = blocks.back();
            const int gap = leaf.top() - block.area.bottom();
            const bool overlaps = leaf.left() < block.area.right() && leaf.right() > block.area.left();
            // Lines of a paragraph are of one size: a heading, or a line of larger text, is a block of its own,
            // scaled for its own size.
            const bool likeSize =
                5 * std::min(leaf.height(), block.lineHeight) >= 3 * std::max(leaf.height(), block.lineHeight);
            if (dark == lastDark && overlaps && likeSize && gap >= 0 && gap < std::max(leaf.height(), lastLineHeight) &&
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

} // namespace lumetrove::recognition
