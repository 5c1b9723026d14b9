#pragma once

#include <QListView>
#include <QMetaObject>
#include <utility>

namespace lumetrove {

/// A list from top to bottom whose rows are all as high as the delegate makes its first row and as wide as
/// the viewport. A row's place is its number times that height, so the list has no layout to redo when rows
/// come or go (QListView's own lays out every row again, 100k times for a list of 100k), and it repaints only
/// what changed on screen:
///
/// - Rows that come or go above the rows on screen leave those rows where they are, and nothing is painted;
///   at the top of the list the new rows show, and the rows below them move down.
/// - Rows that come or go on screen move the rows below them (their pixels are moved, not painted again) and
///   paint only the rows uncovered; rows below the screen change only the scroll bar.
/// - A changed row repaints itself alone.
///
/// The list scrolls by pixels and never sideways; rows are never hidden.
class UniformRowListView : public QListView {
    Q_OBJECT

public:
    explicit UniformRowListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    /// Measures the row height again and repaints every row.
    void doItemsLayout() override;

    /// The height of every row; 0 while the list has no rows.
    int rowHeight() const;
    /// The first and the last row with pixels on screen; the first is past the last when none has.
    std::pair<int, int> rowsOnScreen() const;

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QSize viewportSizeHint() const override;

private:
    void rowsRemoved(const QModelIndex& parent, int first, int last);
    /// After `count` rows came at row `first` (removed ones counted negative): the scroll bar's range, the
    /// place of the rows on screen, and the repaint of what moved.
    void followRows(int first, int count);
    int rows() const;
    /// The row at `y` in the viewport, which may be beyond either end of the list.
    qint64 rowAt(int y) const;

    mutable int rowHeight_ = 0;
    /// While the scroll bar follows rows that came or went above the screen: the rows move with it, so no
    /// pixel moves.
    bool shifting_ = false;
    QMetaObject::Connection removedConnection_;
};

} // namespace lumetrove
