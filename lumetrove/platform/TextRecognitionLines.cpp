#include "lumetrove/platform/TextRecognitionLines.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>

namespace lumetrove::recognition {

namespace {

// Single lines of separate blocks this many line heights apart or closer, on one row, are one line: a label
// and its field, the cells of a row. Columns of text stand further apart, or hold paragraphs.
constexpr double rowJoiningGap = 8;
// The columns of a table stand further apart (a spreadsheet's are as wide as their longest cell); that their
// rows stand level with each other, line for line, is what tells them from columns of prose.
constexpr double tableJoiningGap = 50;
// A cell, or a line of a column of short ones, beside a line of a block of longer lines stands as close to it
// as the words of a line stand to each other where the cut parted cells of like width from the rest of their
// lines.
constexpr double cellJoiningGap = 2;

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

/// A line as it stands on screen, and whether it was joined from the lines of several blocks: a row of a
/// table, a label and its field.
struct AssembledLine {
    RecognizedLine line;
    bool row = false;
};

/// How the lines read from the blocks of an image are joined into the lines that stand on screen.
///  - A block's only line (a label and its field, a row of buttons) joins single lines beside it on its row,
///    no further than `rowJoiningGap` away.
///  - A cell standing alone, or a line of a block of short lines, joins the line of a block of longer lines
///    that goes on from it on its baseline, no further than `cellJoiningGap` away.
///  - The columns of a table, of an `ls -l` listing or of a list with columns are read as blocks of their
///    own: blocks of short lines (a few words each), or single cells standing in a column, edge to edge. A
///    line in such a column joins the lines of other columns that stand on its baseline, as far as
///    `tableJoiningGap` away. Columns of prose hold longer lines and stay as they are, even where their lines
///    stand level with each other, and so do the rows of lists in two panes side by side, which only happen
///    to come near each other.
class RowJoiner {
public:
    explicit RowJoiner(std::vector<ReadLine> read)
        : read_(std::move(read)), inColumn_(read_.size(), false), ofCells_(read_.size(), true)
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
                ofCells_[i] = inColumn_[i];
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
    std::vector<AssembledLine> lines()
    {
        std::vector<AssembledLine> lines;
        std::vector<bool> taken(read_.size(), false);
        for (size_t i = 0; i < read_.size(); ++i) {
            if (taken[i]) {
                continue;
            }
            taken[i] = true;
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
            lines.push_back({std::move(joined), row.size() > 1});
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
        if (ofCells_[i] != ofCells_[j] && sameRow(read_[i].line.boundingBox, box) &&
            std::abs(read_[i].baseline - read_[j].baseline) <= 0.3 * std::min(box.height(), span.height()) &&
            sideGap(span, box) <= cellJoiningGap * std::max(box.height(), read_[i].line.boundingBox.height())) {
            return true;
        }
        if (inBlock(i)) {
            return false;
        }
        if (read_[i].alone && read_[j].alone && sameRow(read_[i].line.boundingBox, box) &&
            sideGap(span, box) <= rowJoiningGap * read_[i].line.boundingBox.height()) {
            return true;
        }
        return inColumn_[i] && inTable(i, j, span);
    }

    /// Whether line `i` is one of the lines of a block of several, a paragraph or a line of a panel.
    bool inBlock(size_t i) const { return !read_[i].alone && !inColumn_[i]; }

    std::vector<ReadLine> read_;
    std::vector<bool> inColumn_;
    std::vector<bool> ofCells_; // alone, or of a block of short lines
};

/// The lines that stand on one row just above a row of a table, over its span: the cells of its header,
/// centred over their columns or standing on shaded sections, and so in no column of their own. Parts of
/// them may have been joined already. Lines `taken` into another header already are in none.
std::vector<size_t> headerOf(const std::vector<AssembledLine>& lines, const QRectF& table,
                             const std::vector<bool>& taken)
{
    std::vector<size_t> header;
    for (size_t h = 0; h < lines.size(); ++h) {
        if (taken[h]) {
            continue;
        }
        const QRectF& box = lines[h].line.boundingBox;
        const double centre = box.center().x();
        if (box.bottom() > table.top() || table.top() - box.bottom() > 2 * box.height() || centre < table.left() ||
            centre > table.right()) {
            continue;
        }
        if (!header.empty() && !sameRow(lines[header.front()].line.boundingBox, box)) {
            if (box.bottom() < lines[header.front()].line.boundingBox.bottom()) {
                continue; // the row nearest to the table is its header
            }
            header.clear();
        }
        header.push_back(h);
    }
    // A header cell may stand beyond the cells below it (a header centred over numbers at the left of their
    // column): it joins the header where it stands on its row, within reach as a label is of its field.
    if (header.empty()) {
        return header;
    }
    QRectF span = lines[header.front()].line.boundingBox;
    const double height = span.height();
    for (const size_t cell : header) {
        span = span.united(lines[cell].line.boundingBox);
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (size_t h = 0; h < lines.size(); ++h) {
            const QRectF& box = lines[h].line.boundingBox;
            if (!taken[h] && std::find(header.begin(), header.end(), h) == header.end() &&
                sameRow(lines[header.front()].line.boundingBox, box) && sideGap(span, box) <= rowJoiningGap * height) {
                header.push_back(h);
                span = span.united(box);
                grew = true;
            }
        }
    }
    return header;
}

/// Joins the cells of each table's header into one line, where the first of them stands. Two tables side by
/// side may reach under one header: it is joined once, for the first.
void joinHeaders(std::vector<AssembledLine>& lines)
{
    std::vector<bool> joined(lines.size(), false);
    std::vector<bool> inHeader(lines.size(), false);
    for (size_t table = 0; table < lines.size(); ++table) {
        if (!lines[table].row || joined[table]) {
            continue;
        }
        std::vector<size_t> header = headerOf(lines, lines[table].line.boundingBox, inHeader);
        if (header.size() < 2) {
            continue;
        }
        const size_t first = *std::min_element(header.begin(), header.end());
        std::sort(header.begin(), header.end(), [&](size_t a, size_t b) {
            return lines[a].line.boundingBox.left() < lines[b].line.boundingBox.left();
        });
        RecognizedLine row;
        for (const size_t cell : header) {
            RecognizedLine& line = lines[cell].line;
            row.boundingBox = row.boundingBox.isNull() ? line.boundingBox : row.boundingBox.united(line.boundingBox);
            row.text += row.text.isEmpty() ? line.text : QLatin1Char(' ') + line.text;
            std::move(line.words.begin(), line.words.end(), std::back_inserter(row.words));
            joined[cell] = cell != first;
            inHeader[cell] = true;
        }
        lines[first] = {std::move(row), true};
    }
    for (size_t i = lines.size(); i-- > 0;) {
        if (joined[i]) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

/// Whether `a` stands above `b` and overlaps it side to side: `a` is read first, whatever block it was in.
bool readBefore(const QRectF& a, const QRectF& b)
{
    const double height = std::min(a.height(), b.height());
    return a.bottom() <= b.top() + 0.3 * height && a.center().y() < b.center().y() &&
           std::min(a.right(), b.right()) > std::max(a.left(), b.left());
}

/// The lines in reading order: each after every line that stands above it and overlaps it side to side, and
/// otherwise in the order of their blocks, which the cut gives top to bottom within a column, column by
/// column. The header of a table, read as blocks of its own, comes before the table's rows.
std::vector<RecognizedLine> inReadingOrder(std::vector<AssembledLine> lines)
{
    const size_t count = lines.size();
    std::vector<int> before(count, 0); // lines still to be read before each
    for (size_t a = 0; a < count; ++a) {
        for (size_t b = 0; b < count; ++b) {
            before[b] += a != b && readBefore(lines[a].line.boundingBox, lines[b].line.boundingBox);
        }
    }
    std::vector<RecognizedLine> ordered;
    std::vector<bool> done(count, false);
    while (ordered.size() < count) {
        // The first line, in the blocks' order, that nothing unread stands above.
        size_t next = 0;
        while (done[next] || before[next] > 0) {
            ++next;
        }
        done[next] = true;
        for (size_t b = 0; b < count; ++b) {
            before[b] -= !done[b] && readBefore(lines[next].line.boundingBox, lines[b].line.boundingBox);
        }
        ordered.push_back(std::move(lines[next].line));
    }
    return ordered;
}

} // namespace

std::vector<RecognizedLine> assembleLines(std::vector<ReadLine> read)
{
    std::vector<AssembledLine> lines = RowJoiner(std::move(read)).lines();
    joinHeaders(lines);
    return inReadingOrder(std::move(lines));
}

void spellFromWords(RecognizedLine& line)
{
    line.text.clear();
    for (const RecognizedWord& word : line.words) {
        line.text += line.text.isEmpty() ? word.text : QLatin1Char(' ') + word.text;
    }
}

} // namespace lumetrove::recognition
