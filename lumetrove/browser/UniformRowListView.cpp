#include "lumetrove/browser/UniformRowListView.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <algorithm>
#include <climits>

namespace lumetrove {

namespace {

/// A scroll bar that has the style paint it again only when its look changed. A list of 100k rows that grows
/// by one moves the handle by a fraction of a pixel, and the style's painting of the bar costs more than the
/// rest of what the list does for the new row. Hovered or pressed, or in a style whose bars fade, it paints as
/// any scroll bar does.
class SteadyScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        option.activeSubControls = QStyle::SC_None;
        if (underMouse() || isSliderDown() || style()->styleHint(QStyle::SH_ScrollBar_Transient, &option, this)) {
            painted_ = QPixmap();
            QScrollBar::paintEvent(event);
            return;
        }
        const Look look{
            size(),       style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            option.state, palette().cacheKey(),
            style(),      devicePixelRatio()};
        if (painted_.isNull() || !(look == look_)) {
            painted_ = QPixmap(size() * look.ratio);
            painted_.setDevicePixelRatio(look.ratio);
            painted_.fill(Qt::transparent);
            QPainter painter(&painted_);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
            look_ = look;
        }
        QPainter(this).drawPixmap(0, 0, painted_);
    }

private:
    struct Look {
        QSize size;
        QRect handle;
        QStyle::State state;
        qint64 palette = 0;
        const QStyle* style = nullptr;
        qreal ratio = 1;
        bool operator==(const Look&) const = default;
    };
    Look look_;
    QPixmap painted_;
};

} // namespace

// Every method that reads the place of a row is overridden here and never reaches QListView's, whose layout
// (which would hold a place for each row) is never made.

UniformRowListView::UniformRowListView(QWidget* parent) : QListView(parent)
{
    setVerticalScrollMode(ScrollPerPixel);
    // The item view's own connections went with the bar it replaces.
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &UniformRowListView::verticalScrollbarValueChanged);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &UniformRowListView::verticalScrollbarAction);
}

void UniformRowListView::setModel(QAbstractItemModel* model)
{
    disconnect(removedConnection_);
    QListView::setModel(model);
    rowHeight_ = 0;
    if (model != nullptr) {
        removedConnection_ = connect(model, &QAbstractItemModel::rowsRemoved, this, &UniformRowListView::rowsRemoved);
    }
}

int UniformRowListView::rows() const
{
    return model() != nullptr ? model()->rowCount(rootIndex()) : 0;
}

int UniformRowListView::rowHeight() const
{
    if (rowHeight_ <= 0 && rows() > 0) {
        const QModelIndex first = model()->index(0, modelColumn(), rootIndex());
        if (QAbstractItemDelegate* delegate = itemDelegateForIndex(first)) {
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            rowHeight_ = std::max(1, delegate->sizeHint(option, first).height());
        }
    }
    return rowHeight_;
}

qint64 UniformRowListView::rowAt(int y) const
{
    const qint64 content = qint64(y) + verticalOffset();
    const int height = rowHeight();
    if (height <= 0) {
        return -1;
    }
    // Rounded down, also above the list.
    return content >= 0 ? content / height : (content - height + 1) / height;
}

std::pair<int, int> UniformRowListView::rowsOnScreen() const
{
    if (rowHeight() <= 0) {
        return {0, -1};
    }
    return {int(std::max<qint64>(rowAt(0), 0)), int(std::min<qint64>(rowAt(viewport()->height() - 1), rows() - 1))};
}

QRect UniformRowListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn() || rowHeight() <= 0) {
        return {};
    }
    const qint64 top = qint64(index.row()) * rowHeight() - verticalOffset();
    if (top < INT_MIN / 2 || top > INT_MAX / 2) {
        return {};
    }
    return QRect(0, int(top), viewport()->width(), rowHeight());
}

QModelIndex UniformRowListView::indexAt(const QPoint& point) const
{
    const qint64 row = rowAt(point.y());
    if (row < 0 || row >= rows()) {
        return {};
    }
    const QModelIndex index = model()->index(int(row), modelColumn(), rootIndex());
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void UniformRowListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (index.parent() != rootIndex() || index.column() != modelColumn()) {
        return;
    }
    // A list just reset has its scroll bar set on its layout.
    executeDelayedItemsLayout();
    const QRect rect = visualRect(index);
    if (!rect.isValid()) {
        return;
    }
    const QRect area = viewport()->rect();
    if (hint == EnsureVisible && area.contains(rect)) {
        viewport()->update(rect);
        return;
    }
    const bool above = hint == EnsureVisible && rect.top() < area.top();
    const bool below = hint == EnsureVisible && rect.bottom() > area.bottom();
    int value = verticalScrollBar()->value();
    if (hint == PositionAtTop || above) {
        value += rect.top();
    } else if (hint == PositionAtBottom || below) {
        value += std::min(rect.top(), rect.bottom() - area.height() + 1);
    } else if (hint == PositionAtCenter) {
        value += rect.top() - (area.height() - rect.height()) / 2;
    }
    verticalScrollBar()->setValue(value);
}

void UniformRowListView::doItemsLayout()
{
    rowHeight_ = 0;
    // Ends a layout that was due, sets the scroll bars and repaints the viewport.
    QAbstractItemView::doItemsLayout();
}

void UniformRowListView::updateGeometries()
{
    QAbstractItemView::updateGeometries();
    const int height = rowHeight();
    const int viewportHeight = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    bar->setSingleStep(std::max(1, height));
    bar->setPageStep(viewportHeight);
    bar->setRange(0, int(std::clamp<qint64>(qint64(rows()) * height - viewportHeight, 0, INT_MAX)));
    horizontalScrollBar()->setRange(0, 0);
}

void UniformRowListView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    // Not QListView's, which lays out every row again.
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent == rootIndex()) {
        followRows(start, end - start + 1);
    }
}

void UniformRowListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    // Not QListView's either; the rows are followed once they are gone (`rowsRemoved`).
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
}

void UniformRowListView::rowsRemoved(const QModelIndex& parent, int first, int last)
{
    if (parent == rootIndex()) {
        followRows(first, -(last - first + 1));
    }
}

void UniformRowListView::followRows(int first, int count)
{
    QScrollBar* bar = verticalScrollBar();
    const int value = bar->value();
    const int height = rowHeight();
    if (height <= 0) {
        updateGeometries();
        viewport()->update();
        return;
    }
    const int gone = count < 0 ? -count : 0;
    // The first row on screen before the change, in the rows as they were then.
    const qint64 top = (qint64(value) + 1) / height;
    const bool above = value > 0 && (count > 0 ? first <= top : first + gone - 1 < top);
    {
        const QScopedValueRollback<bool> shifting(shifting_, above);
        updateGeometries();
        if (above) {
            bar->setValue(int(std::clamp<qint64>(qint64(value) + qint64(count) * height, 0, bar->maximum())));
        }
    }
    const QRect area = viewport()->rect();
    if (above && bar->value() == value + count * height) {
        // The rows on screen are those of before, where they were; only what shows above the first of them,
        // a pixel of the row before it at most, can be another row's.
        const qint64 topOnScreen = top * height - value;
        if (topOnScreen > 0) {
            viewport()->update(QRect(0, 0, area.width(), int(std::min<qint64>(topOnScreen, area.height()))));
        }
        return;
    }
    const qint64 from = qint64(first) * height - value;
    if (bar->value() != value || from < 0) {
        // The list grew too short for where it was scrolled, or the first row on screen went.
        viewport()->update();
        return;
    }
    if (from >= area.height()) {
        return;
    }
    // The rows below `from` move by what came or went; the rows uncovered are painted.
    const QRect moving(0, int(from), area.width(), area.height() - int(from));
    const qint64 shift = qint64(count) * height;
    if (std::abs(shift) >= moving.height()) {
        viewport()->update(moving);
    } else {
        viewport()->scroll(0, int(shift), moving);
    }
}

void UniformRowListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                     const QList<int>& roles)
{
    if (topLeft == bottomRight || !topLeft.isValid() || !bottomRight.isValid() || topLeft.parent() != rootIndex()) {
        // One row repaints its own rectangle.
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // A run of rows repaints what shows of it, not the whole viewport.
    const int height = rowHeight();
    if (isVisible() && height > 0) {
        const qint64 top = qint64(topLeft.row()) * height - verticalOffset();
        const qint64 bottom = qint64(bottomRight.row() + 1) * height - verticalOffset();
        const QRect area = viewport()->rect();
        const qint64 shownTop = std::max<qint64>(top, 0);
        const qint64 shownBottom = std::min<qint64>(bottom, area.height());
        if (shownTop < shownBottom) {
            viewport()->update(QRect(0, int(shownTop), area.width(), int(shownBottom - shownTop)));
        }
    }
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setFirstColumn(topLeft.column());
        event.setLastRow(bottomRight.row());
        event.setLastColumn(bottomRight.column());
        QAccessible::updateAccessibility(&event);
    }
}

void UniformRowListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // The screen reader's focus goes to the row by its number, which is its place here.
    if (QAccessible::isActive() && current.isValid()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current.row());
        QAccessible::updateAccessibility(&event);
    }
    QAbstractItemView::currentChanged(current, previous);
}

void UniformRowListView::scrollContentsBy(int dx, int dy)
{
    if (shifting_) {
        return;
    }
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

void UniformRowListView::paintEvent(QPaintEvent* event)
{
    if (rowHeight() <= 0) {
        return;
    }
    const QRect area = event->rect();
    const qint64 first = std::max<qint64>(rowAt(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAt(area.bottom()), rows() - 1);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    QPainter painter(viewport());
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(int(row), modelColumn(), rootIndex());
        QAbstractItemDelegate* delegate = itemDelegateForIndex(index);
        if (delegate == nullptr) {
            continue;
        }
        option.rect = visualRect(index);
        option.state = state;
        if (selectionModel() != nullptr && selectionModel()->isSelected(index)) {
            option.state |= QStyle::State_Selected;
        }
        if (focus && index == current) {
            option.state |= QStyle::State_HasFocus;
        }
        delegate->paint(&painter, option, index);
    }
}

void UniformRowListView::resizeEvent(QResizeEvent* event)
{
    // Rows are as wide as the viewport, and their height may follow their width.
    const bool newWidth = event->size().width() != event->oldSize().width();
    if (newWidth) {
        rowHeight_ = 0;
    }
    QAbstractItemView::resizeEvent(event);
    if (newWidth) {
        viewport()->update();
    }
}

QModelIndex UniformRowListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int count = rows();
    if (count == 0) {
        return {};
    }
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        return model()->index(0, modelColumn(), rootIndex());
    }
    const int page = std::max(1, viewport()->height() / std::max(1, rowHeight()));
    int row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row -= 1;
        break;
    case MoveDown:
    case MoveNext:
        row += 1;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(std::clamp(row, 0, count - 1), modelColumn(), rootIndex());
}

int UniformRowListView::horizontalOffset() const
{
    return 0;
}

int UniformRowListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

void UniformRowListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (selectionModel() == nullptr) {
        return;
    }
    const QRect area = rect.normalized();
    const qint64 first = std::max<qint64>(rowAt(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAt(area.bottom()), rows() - 1);
    if (first > last) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    selectionModel()->select(QItemSelection(model()->index(int(first), modelColumn(), rootIndex()),
                                            model()->index(int(last), modelColumn(), rootIndex())),
                             command);
}

QSize UniformRowListView::viewportSizeHint() const
{
    return QSize(viewport()->width(), int(std::min<qint64>(qint64(rows()) * rowHeight(), INT_MAX)));
}

} // namespace lumetrove
