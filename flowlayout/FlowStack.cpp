#include "flowlayout/FlowStack.h"

#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <limits>

namespace flowlayout {

std::vector<int> firstItemOfEachLine(std::span<const double> widths, double availableWidth, double spacing)
{
    std::vector<int> starts;
    // Starting "full" makes the first visible item open a line.
    double used = availableWidth;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const double width = widths[i];
        if (std::isinf(width) && width > 0) {
            starts.push_back(static_cast<int>(i));
            used = availableWidth;
            continue;
        }
        if (!(width > 0)) {
            continue;
        }
        if ((used + width) + spacing > availableWidth) {
            starts.push_back(static_cast<int>(i));
            used = width;
        } else {
            used += width + spacing;
        }
    }
    return starts;
}

namespace {

enum class Placement { leading, center, trailing, other };

Placement placementOf(Qt::Alignment alignment)
{
    switch (alignment & Qt::AlignHorizontal_Mask & ~Qt::AlignAbsolute) {
    case Qt::AlignLeft:
        return Placement::leading;
    case Qt::AlignRight:
        return Placement::trailing;
    case Qt::AlignHCenter:
        return Placement::center;
    default:
        return Placement::other;
    }
}

/// One piece of a line: an item, a fixed gap or a flexible spacer of a minimum length.
struct Piece {
    enum class Kind { item, fixed, flexible } kind;
    double length;
    int index = -1;
};

} // namespace

FlowStack::FlowStack(QWidget* parent, Qt::Alignment alignment, Spacing spacing, int lineSpacing)
    : QLayout(parent), alignment_(alignment), spacing_(spacing), lineSpacing_(lineSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowStack::~FlowStack()
{
    for (QLayoutItem* item : items_) {
        delete item;
    }
}

void FlowStack::addNewLine()
{
    addItem(new NewLine);
}

void FlowStack::clearItems()
{
    std::vector<QLayoutItem*> items;
    items.swap(items_);
    invalidate();
    for (QLayoutItem* item : items) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void FlowStack::addItem(QLayoutItem* item)
{
    items_.push_back(item);
    invalidate();
}

int FlowStack::count() const
{
    return static_cast<int>(items_.size());
}

QLayoutItem* FlowStack::itemAt(int index) const
{
    return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* FlowStack::takeAt(int index)
{
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    invalidate();
    return item;
}

void FlowStack::invalidate()
{
    widthsValid_ = false;
    cachedWidth_ = -1;
    QLayout::invalidate();
}

const std::vector<double>& FlowStack::widths() const
{
    if (!widthsValid_) {
        widths_.clear();
        widths_.reserve(items_.size());
        for (QLayoutItem* item : items_) {
            if (dynamic_cast<NewLine*>(item)) {
                widths_.push_back(std::numeric_limits<double>::infinity());
            } else if (item->isEmpty()) {
                widths_.push_back(0);
            } else {
                widths_.push_back(item->sizeHint().width());
            }
        }
        widthsValid_ = true;
    }
    return widths_;
}

std::vector<int> FlowStack::lineStarts(int width) const
{
    const QMargins margins = contentsMargins();
    return firstItemOfEachLine(widths(), width - margins.left() - margins.right(), spacing_.value);
}

int FlowStack::doLayout(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const double available = area.width();
    const std::vector<double>& itemWidths = widths();
    const std::vector<int> starts = firstItemOfEachLine(itemWidths, available, spacing_.value);
    const double s = spacing_.value;
    const Placement placement = placementOf(alignment_);
    const auto visible = [&](int i) {
        return !dynamic_cast<NewLine*>(items_[static_cast<std::size_t>(i)]) &&
               itemWidths[static_cast<std::size_t>(i)] > 0;
    };
    const Qt::LayoutDirection direction = parentWidget() ? parentWidget()->layoutDirection() : Qt::LeftToRight;

    std::vector<Piece> pieces;
    double y = area.top();
    for (std::size_t line = 0; line < starts.size(); ++line) {
        const int first = starts[line];
        const int last = line + 1 < starts.size() ? starts[line + 1] - 1 : count() - 1;
        const bool sideSpacers =
            spacing_.kind == Spacing::Kind::constant || (spacing_.kind == Spacing::Kind::dynamic && first == last);
        const Piece::Kind gapKind =
            spacing_.kind == Spacing::Kind::constant ? Piece::Kind::fixed : Piece::Kind::flexible;
        const bool borders = spacing_.kind == Spacing::Kind::dynamicIncludingBorders;

        pieces.clear();
        if (sideSpacers && (placement == Placement::center || placement == Placement::trailing)) {
            pieces.push_back({Piece::Kind::flexible, 0});
        }
        int height = 0;
        for (int j = first; j <= last; ++j) {
            if (borders && j == first) {
                pieces.push_back({Piece::Kind::flexible, s});
            }
            if (visible(j)) {
                QLayoutItem* item = items_[static_cast<std::size_t>(j)];
                // A single item wider than the line is narrowed to it, as far as it can shrink.
                const double width = std::min(itemWidths[static_cast<std::size_t>(j)],
                                              std::max(available, double(item->minimumSize().width())));
                pieces.push_back({Piece::Kind::item, width, j});
                height = std::max(height, item->sizeHint().height());
            }
            const bool skipped = !dynamic_cast<NewLine*>(items_[static_cast<std::size_t>(j)]) && !visible(j);
            if (j != last && !skipped) {
                pieces.push_back({gapKind, s});
            } else if (j == last && borders) {
                pieces.push_back({Piece::Kind::flexible, s});
            }
        }
        if (sideSpacers && (placement == Placement::center || placement == Placement::leading)) {
            pieces.push_back({Piece::Kind::flexible, 0});
        }

        if (apply) {
            double used = 0;
            int flexible = 0;
            for (const Piece& piece : pieces) {
                used += piece.length;
                flexible += piece.kind == Piece::Kind::flexible ? 1 : 0;
            }
            const double spare = std::max(0.0, available - used);
            // Flexible pieces of one line always share one minimum, so they grow alike; a line without any
            // is centred in the available width.
            const double grow = flexible > 0 ? spare / flexible : 0;
            double x = area.left() + (flexible > 0 ? 0 : spare / 2);
            for (const Piece& piece : pieces) {
                if (piece.kind == Piece::Kind::item) {
                    QLayoutItem* item = items_[static_cast<std::size_t>(piece.index)];
                    const int itemHeight = std::min(item->sizeHint().height(), height);
                    const QRect logical(static_cast<int>(std::lround(x)),
                                        static_cast<int>(std::lround(y)) + (height - itemHeight) / 2,
                                        static_cast<int>(std::lround(piece.length)), itemHeight);
                    item->setGeometry(QStyle::visualRect(direction, area, logical));
                }
                x += piece.length + (piece.kind == Piece::Kind::flexible ? grow : 0);
            }
        }
        y += height;
        if (line + 1 < starts.size()) {
            y += lineSpacing_;
        }
    }
    const QMargins margins = contentsMargins();
    return static_cast<int>(std::lround(y - area.top())) + margins.top() + margins.bottom();
}

void FlowStack::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const int height = doLayout(rect, true);
    // The hints report the lines' height at the width laid out last: when a new width needs another height,
    // the parents are asked to lay out again, also those that never ask for a height for a width.
    if (rect.width() != laidOutWidth_) {
        const int before = laidOutWidth_ > 0 ? heightForWidth(laidOutWidth_) : -1;
        laidOutWidth_ = rect.width();
        if (height != before) {
            if (QWidget* widget = parentWidget()) {
                widget->updateGeometry();
            }
        }
    }
}

bool FlowStack::hasHeightForWidth() const
{
    return true;
}

int FlowStack::heightForWidth(int width) const
{
    // Qt asks several times per layout pass for the same width.
    if (width != cachedWidth_) {
        cachedHeight_ = doLayout(QRect(0, 0, width, 0), false);
        cachedWidth_ = width;
    }
    return cachedHeight_;
}

Qt::Orientations FlowStack::expandingDirections() const
{
    return Qt::Horizontal;
}

// Both sizes are as high as the lines at the width laid out last (one item high before the first layout),
// not at the narrowest width: a minimum of one item per line would make the widget as tall as all its items
// stacked. A parent that asks for a height for a width gets it; one that lays out by these sizes alone (a
// splitter, a scroll area) still gives the wrapped lines their room.
QSize FlowStack::minimumSize() const
{
    QSize size(0, 0);
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->minimumSize());
        }
    }
    const QMargins margins = contentsMargins();
    size = size.grownBy(margins);
    if (laidOutWidth_ > 0) {
        size.setHeight(std::max(size.height(), heightForWidth(laidOutWidth_)));
    }
    return size;
}

QSize FlowStack::sizeHint() const
{
    QSize size(0, 0);
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->sizeHint());
        }
    }
    const QMargins margins = contentsMargins();
    size = size.grownBy(margins);
    if (laidOutWidth_ > 0) {
        size.setHeight(std::max(size.height(), heightForWidth(laidOutWidth_)));
    }
    return size;
}

} // namespace flowlayout
